// One scan's page work without the network: cutting a large top page into its ranking, finding
// 200 followed titles' keywords in its title blocks, and analysing one large episode page.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "autodownload/EpisodePageAnalysis.h"
#include "autodownload/RankingSection.h"
#include "platform/text/TextUtil.h"

namespace {

using kestrova::EpisodePageAnalysis;
using kestrova::RankingSection;

constexpr int kBlocks = 1000;
constexpr int kTitles = 200;
constexpr std::size_t kTopPageBytes = 5u * 1000u * 1000u;
constexpr std::size_t kEpisodePageBytes = 2u * 1000u * 1000u;

std::string animeName(int i) { return "アニメ作品" + std::to_string(i) + "ノカナタ"; }

// About 5 MB: every title block in the ranking (the worst case for the search), each padded
// with markup and Japanese text; every fifth followed title appears in some block.
std::string topPage() {
    std::string filler;
    while (filler.size() < kTopPageBytes / kBlocks - 200) {
        filler +=
            "<span class=\"views\">再生数 12345</span><img src=\"./img/thumb.jpg\" alt=\"サム"
            "ネイル\">\n";
    }
    std::string page = "<html>\n<head><title>ひまわり動画</title></head>\n<body>\n";
    page += RankingSection::kRankingHeading;
    for (int b = 0; b < kBlocks; ++b) {
        const std::string name =
            b % 5 == 0 ? animeName(b / 5 % kTitles) : "よその作品" + std::to_string(b);
        page += RankingSection::kTitleBlockMarker;
        page += "<a href=\"./watch/" + std::to_string(b) + ".html\">" + name + " 第" +
                std::to_string(b % 24 + 1) + "話 HD</a>\n" + filler + "</div>\n";
    }
    page += RankingSection::kNewUploadsHeading;
    return page + "\n</body>\n</html>\n";
}

std::vector<std::string> keywords() {
    std::vector<std::string> out;
    for (int t = 0; t < kTitles; ++t) {
        out.push_back(animeName(t));
        out.push_back("別名" + std::to_string(t) + "ノカナタ");
        out.push_back("Kanata Title " + std::to_string(t));
    }
    return out;
}

std::string episodePage() {
    std::string page = "<html>\n<head>\n\t<title>" + animeName(7) +
                       " 第5話 HD - ひまわり動画</title>\n</head>\n<body>\n";
    while (page.size() < kEpisodePageBytes) {
        page += "\t\t<div class=\"comment\">とても良かった　第5話の作画 1280x720</div>\n";
    }
    page += "\tvar display_movie_url = 'http://v.example/video/5%E8%A9%B1.mp4';\n";
    page +=
        "\tvar ary_spare_sources = {\"spare\":[{\"src\":\"http://m1.example/5.mp4\"},"
        "{\"src\":\"http://m2.example/5.mp4\"}]};\n";
    return page + "</body>\n</html>\n";
}

void BM_ScanAnalysis(benchmark::State& state) {
    const std::string top = topPage();
    const std::string episode = episodePage();
    const std::vector<std::string> words = keywords();
    const std::vector<std::string_view> views(words.begin(), words.end());
    const kestrova::PlistValue flags = kestrova::PlistValue::array();
    for (auto _ : state) {
        const auto ranking = RankingSection::cut(top);
        const auto paths = ranking->findEpisodePaths(views);
        const auto result = EpisodePageAnalysis::analyze(episode, animeName(7), &flags);
        benchmark::DoNotOptimize(paths.data());
        benchmark::DoNotOptimize(result.sources.data());
    }
    state.counters["topPageMB"] = static_cast<double>(top.size()) / 1e6;
    state.counters["episodePageMB"] = static_cast<double>(episode.size()) / 1e6;
}
BENCHMARK(BM_ScanAnalysis)->Unit(benchmark::kMillisecond);

// The two halves on their own.
void BM_RankingSearch(benchmark::State& state) {
    const std::string top = topPage();
    const std::vector<std::string> words = keywords();
    const std::vector<std::string_view> views(words.begin(), words.end());
    for (auto _ : state) {
        const auto paths = RankingSection::cut(top)->findEpisodePaths(views);
        benchmark::DoNotOptimize(paths.data());
    }
}
BENCHMARK(BM_RankingSearch)->Unit(benchmark::kMillisecond);

void BM_EpisodePage(benchmark::State& state) {
    const std::string episode = episodePage();
    const kestrova::PlistValue flags = kestrova::PlistValue::array();
    for (auto _ : state) {
        const auto result = EpisodePageAnalysis::analyze(episode, animeName(7), &flags);
        benchmark::DoNotOptimize(result.sources.data());
    }
}
BENCHMARK(BM_EpisodePage)->Unit(benchmark::kMillisecond);

// For comparison: the UTF-8 check that the fetches make on the same two pages.
void BM_FetchedTextCheck(benchmark::State& state) {
    const std::string top = topPage();
    const std::string episode = episodePage();
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrova::TextUtil::isValidUtf8(top));
        benchmark::DoNotOptimize(kestrova::TextUtil::isValidUtf8(episode));
    }
}
BENCHMARK(BM_FetchedTextCheck)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
