// The per-title work of a scan at 20,000 followed titles, network excluded: merging a fetched
// list of 20,000 records into a stored one of 20,000, and searching the ranking of a 5 MB top
// page for their 60,000 keywords. Each is timed in CPU seconds (best of five) next to a peer
// measured in the same run: a deep copy of the fetched list, which any merge has to make, and
// one walk of the top page that checks it is UTF-8. The budget for the whole is one second.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "autodownload/AutoDownloadSystem.h"
#include "autodownload/RankingSection.h"
#include "messages/Notifications.h"
#include "platform/plist/PlistValue.h"
#include "platform/text/TextUtil.h"

namespace {

using kestrova::PlistValue;

constexpr int kTitles = 20'000;
constexpr int kBlocks = 1'000;

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double bestOfFive(const std::function<void()>& work) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double start = cpuSeconds();
        work();
        best = std::min(best, cpuSeconds() - start);
    }
    return best;
}

std::string title(int i) { return "アニメ作品" + std::to_string(i) + "ノカナタ"; }

// Records in the order given; every third stored one switched off by the user.
PlistValue list(const std::vector<int>& order, bool stored) {
    PlistValue::Array records;
    for (const int i : order) {
        PlistValue::Dictionary record{
            {kestrova::key::kTitle, PlistValue::string(title(i))},
            {kestrova::key::kKeyword,
             PlistValue::array({PlistValue::string(title(i)),
                                PlistValue::string("別名" + std::to_string(i)),
                                PlistValue::string("Title " + std::to_string(i))})},
            {kestrova::key::kTime, PlistValue::integer(24)}};
        if (stored) record.emplace(kestrova::key::kStatus, PlistValue::boolean(i % 3 != 0));
        records.push_back(PlistValue::dictionary(std::move(record)));
    }
    return PlistValue::array(std::move(records));
}

std::string topPage() {
    std::string page = "<html><body>\n";
    page += kestrova::RankingSection::kRankingHeading;
    const std::string filler(4800, 'x');
    for (int b = 0; b < kBlocks; ++b) {
        page += kestrova::RankingSection::kTitleBlockMarker;
        page += "<a href=\"./watch/" + std::to_string(b) + ".html\">" + title(b * 20) +
                " 第1話 HD</a>" + filler + "</div>\n";
    }
    return page + std::string(kestrova::RankingSection::kNewUploadsHeading) + "</body></html>\n";
}

}  // namespace

int main() {
    std::vector<int> fetchedOrder(kTitles);
    std::vector<int> storedOrder(kTitles);
    for (int i = 0; i < kTitles; ++i) {
        fetchedOrder[static_cast<std::size_t>(i)] = i;
        storedOrder[static_cast<std::size_t>(i)] = kTitles - 1 - i;  // the worst order for a scan
    }
    const PlistValue fetched = list(fetchedOrder, false);
    const std::optional<PlistValue> stored = list(storedOrder, true);

    const double merge = bestOfFive([&] {
        const PlistValue merged = kestrova::AutoDownloadSystem::mergeList(fetched, stored);
        if (merged.asArray()->size() != kTitles) std::abort();
    });
    const double copy = bestOfFive([&] {
        const PlistValue copied = fetched;
        if (copied.asArray()->size() != kTitles) std::abort();
    });

    const std::string page = topPage();
    std::vector<std::string_view> keywords;
    for (const PlistValue& record : *stored->asArray()) {
        for (const PlistValue& keyword : *record.find(kestrova::key::kKeyword)->asArray()) {
            keywords.emplace_back(*keyword.asString());
        }
    }
    std::size_t found = 0;
    const double search = bestOfFive([&] {
        const auto paths = kestrova::RankingSection::cut(page)->findEpisodePaths(keywords);
        found = static_cast<std::size_t>(
            std::count_if(paths.begin(), paths.end(), [](const auto& p) { return p.has_value(); }));
    });
    const double walk = bestOfFive([&] {
        if (!kestrova::TextUtil::isValidUtf8(page)) std::abort();
    });

    std::printf("titles=%d keywords=%zu top_page_bytes=%zu matches=%zu\n", kTitles, keywords.size(),
                page.size(), found);
    std::printf("merge_cpu_ms=%.1f copy_cpu_ms=%.1f merge_vs_copy=%.2f\n", merge * 1e3, copy * 1e3,
                merge / copy);
    std::printf("search_cpu_ms=%.1f utf8_walk_cpu_ms=%.1f search_vs_walk=%.2f\n", search * 1e3,
                walk * 1e3, search / walk);
    std::printf("scan_work_cpu_ms=%.1f budget_ms=1000 within_budget=%s\n", (merge + search) * 1e3,
                merge + search < 1.0 ? "yes" : "no");
    return 0;
}
