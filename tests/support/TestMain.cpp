// Starts as Kestrova's main() does: a closed socket or a file-size limit fails the write.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
