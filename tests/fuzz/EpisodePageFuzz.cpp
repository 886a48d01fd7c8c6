// libFuzzer target: the episode page analysis on arbitrary page texts. Besides not crashing,
// what it answers must hold together: sources only for a new episode within range, every
// source a web address, the episode name built from the number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "autodownload/EpisodePageAnalysis.h"
#include "platform/net/HttpUrl.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrova::EpisodePageAnalysis;
    using kestrova::PlistValue;
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    // Episodes 1 and 3 are recorded, as a stored episode record would say.
    const PlistValue flags =
        PlistValue::array({PlistValue::boolean(false), PlistValue::boolean(true),
                           PlistValue::integer(1), PlistValue::boolean(true)});
    const auto result = EpisodePageAnalysis::analyze(page, "Foo", &flags);
    using Outcome = EpisodePageAnalysis::Outcome;
    check(result.outcome == Outcome::NewEpisode || result.sources.empty());
    if (result.outcome == Outcome::NewEpisode || result.outcome == Outcome::AlreadyDownloaded) {
        check(result.episode >= 1 && result.episode <= EpisodePageAnalysis::kMaxEpisode);
        check(result.episodeName == EpisodePageAnalysis::episodeName("Foo", result.episode));
        check((result.outcome == Outcome::AlreadyDownloaded) ==
              (result.episode == 1 || result.episode == 3));
        check(EpisodePageAnalysis::isHighQuality(result.pageTitle));
    }
    for (const std::string& source : result.sources) {
        check(kestrova::HttpUrl::normalize(source).has_value());
    }
    return 0;
}
