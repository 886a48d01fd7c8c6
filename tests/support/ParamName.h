#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kestrova::test {

// Names parameterised cases after their row's `name` field.
struct ParamName {
    template <typename T>
    std::string operator()(const ::testing::TestParamInfo<T>& row) const {
        return std::string(row.param.name);
    }
};

}  // namespace kestrova::test
