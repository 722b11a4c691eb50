// veld-cli search: runs the very search the GUI runs (RunSearch on the search
// worker with the options the options dialog would produce), lists what it
// found, and optionally saves it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <unistd.h>

#include "app/found_file_columns.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/record_json.h"
#include "finder/found_file_lists.h"
#include "platform/finish_waiter.h"
#include "volume/extraction.h"
#include "volume/search_driver.h"
#include "volume/search_progress.h"
#include "volume/trace.h"

namespace veld {
namespace {

struct SearchArgs {
    std::optional<int64_t> first, last;
    bool picturesOnly = false;
    bool detail = true;
    bool trace = false;
    bool json = false;
    bool flat = false;
    std::string saveDir;
    std::string source;
};

bool ParseNumber(const std::string& text, int64_t* out) {
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') return false;
    *out = v;
    return true;
}

int ParseArgs(const std::vector<std::string>& args, SearchArgs* a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "%s needs a value\n", name);
                return nullptr;
            }
            return &args[++i];
        };
        int64_t n = 0;
        if (s == "--first" || s == "--last") {
            const std::string* v = value(s.c_str());
            if (!v || !ParseNumber(*v, &n)) {
                std::fprintf(stderr, "%s needs a cluster number\n", s.c_str());
                return 2;
            }
            (s == "--first" ? a->first : a->last) = n;
        } else if (s == "--pictures-only") {
            a->picturesOnly = true;
        } else if (s == "--no-detail") {
            a->detail = false;
        } else if (s == "--trace") {
            a->trace = true;
        } else if (s == "--json") {
            a->json = true;
        } else if (s == "--flat") {
            a->flat = true;
        } else if (s == "--save") {
            const std::string* v = value("--save");
            if (!v) return 2;
            // The extraction recreates folders below an absolute target.
            a->saveDir = std::filesystem::absolute(*v).lexically_normal().string();
        } else if (s.size() > 1 && s[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n", s.c_str());
            return 2;
        } else {
            a->source = s;
        }
    }
    if (a->source.empty()) {
        std::fprintf(stderr, "veld-cli search: SOURCE is missing\n");
        return 2;
    }
    return 0;
}

// The options dialog's rules: the range starts as the whole volume, the
// start is raised to 2, the end lowered to the cluster count, and a range
// that differs from the whole volume searches only the clusters.
SearchOptions MakeOptions(const SearchArgs& a, int64_t clusterCount) {
    SearchOptions o;
    int64_t maximum = int64_t(uint64_t(clusterCount) & 0xFFFFFFFFu);
    int64_t first = a.first.value_or(2), last = a.last.value_or(maximum);
    if (first < 2) first = 2;
    if (last > maximum) last = maximum;
    if (first > last) std::swap(first, last);
    o.firstCluster = first;
    o.lastCluster = last;
    o.rangeOnly = (first == 2 && last == maximum) ? 0 : 1;
    o.flags = (a.picturesOnly ? SearchImagesOnly : 0) | (a.detail ? SearchDetailed : 0);
    return o;
}

// Progress on standard error: the phase heading, the percentage and the
// found count, rewritten in place on a terminal, one line per phase otherwise.
class CliProgress final : public ProgressDisplay {
public:
    explicit CliProgress(bool terminal) : terminal_(terminal) {}
    void SetLine(int line, const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (line == 1) {
            // Without a terminal each phase is announced once.
            if (!terminal_ && announced_.insert(text).second) std::fprintf(stderr, "%s\n", text.c_str());
            heading_ = text;
        }
        Draw();
    }
    void SetPercent(int percent) override {
        std::lock_guard<std::mutex> guard(lock_);
        percent_ = percent;
    }
    void Finish() {
        std::lock_guard<std::mutex> guard(lock_);
        if (terminal_ && drawn_) std::fprintf(stderr, "\n");
    }

private:
    void Draw() {
        if (!terminal_) return;
        std::fprintf(stderr, "\r\033[K%s %3d%%  見つかったファイル %d", heading_.c_str(), percent_, FoundCount.load());
        std::fflush(stderr);
        drawn_ = true;
    }
    std::mutex lock_;
    bool terminal_;
    bool drawn_ = false;
    std::string heading_;
    std::set<std::string> announced_;
    int percent_ = 0;
};

extern "C" void OnInterrupt(int) { RequestCancel(); }

// "name.ext" → "name (2).ext", avoiding paths already used or present.
std::string UniqueName(const std::string& folder, const std::string& name, std::set<std::string>* used) {
    namespace fs = std::filesystem;
    std::string stem = name, ext;
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    std::string candidate = name;
    for (int k = 2; used->count(folder + "/" + candidate) || fs::exists(fs::path(folder) / candidate); ++k)
        candidate = stem + " (" + std::to_string(k) + ")" + ext;
    used->insert(folder + "/" + candidate);
    return candidate;
}

}  // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
    SearchArgs a;
    if (int rc = ParseArgs(args, &a)) return rc;
    SourceArgument source = ParseSource(a.source);

    // Like the options dialog: open once to learn the cluster range.
    int64_t clusterCount = 0;
    {
        auto probe = DiskIO_Open(source.path, source.driveLetter);
        if (!probe) {
            std::fprintf(stderr, "%s\n%s\n", SearchErrorText(SearchOpenFailed).c_str(), OpenFailureText(source).c_str());
            return 1;
        }
        clusterCount = probe->clusterCount;
    }
    SearchOptions options = MakeOptions(a, clusterCount);

    if (a.trace) SetTraceSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    CliProgress progress(::isatty(STDERR_FILENO) != 0);
    AttachProgressDisplay(&progress);
    FinishWaiter target;

    ResetSearch();
    std::signal(SIGINT, OnInterrupt);
    if (StartSearchWorker(&target, source.driveLetter, source.path, options) != 0) {
        std::fprintf(stderr, "スレッド起動エラー\n");
        AttachProgressDisplay(nullptr);
        return 1;
    }
    int result = target.Wait();
    WaitForSearchWorker(60000);
    std::signal(SIGINT, SIG_DFL);
    AttachProgressDisplay(nullptr);
    progress.Finish();
    SetTraceSink({});

    if (result != SearchOk) {
        std::fprintf(stderr, "検索中にエラーが発生しました \n(%s)\n", SearchErrorText(result).c_str());
        if (result == SearchOpenFailed) std::fprintf(stderr, "%s\n", OpenFailureText(source).c_str());
        return 1;
    }
    const bool cancelled = SearchCancelled();
    const size_t count = gcDelFileList.Count();
    if (count == 0 && !cancelled) std::fprintf(stderr, "ファイルは見つかりませんでした\n");

    if (!a.saveDir.empty()) std::filesystem::create_directories(a.saveDir);
    std::set<std::string> used;
    size_t saved = 0, failed = 0;
    if (!a.json) std::printf("%s\n", FoundFileHeaderLine().c_str());
    for (size_t i = 0; i < count; ++i) {
        std::optional<DelFileInfo> record = gcDelFileList.CopyAt(i);
        if (!record) continue;
        std::optional<std::string> savedPath;
        if (!a.saveDir.empty() && gSearch.volume) {
            ExtractRequest request;
            request.targetFolder = a.saveDir;
            request.keepFolders = !a.flat;
            std::string planned = ExtractTargetPath(*record, request);
            std::string folder, name;
            size_t slash = planned.find_last_of('/');
            folder = slash == std::string::npos ? a.saveDir : planned.substr(0, slash);
            name = slash == std::string::npos ? planned : planned.substr(slash + 1);
            request.fileName = UniqueName(folder, name, &used);
            ExtractOutcome outcome = ExtractFoundFile(*gSearch.volume, *record, request);
            if (outcome.result == ExtractOk && !outcome.path.empty()) {
                savedPath = outcome.path;
                ++saved;
            } else {
                ++failed;
                std::fprintf(stderr, "保存できませんでした: %s (%d)\n", planned.c_str(), outcome.result);
            }
        }
        if (a.json)
            std::printf("%s\n", FoundFileJson(*record, savedPath).c_str());
        else
            std::printf("%s\n", FoundFileRowLine(*record).c_str());
    }
    std::fflush(stdout);
    if (!a.saveDir.empty())
        std::fprintf(stderr, "見つかったファイル %zu, 保存 %zu, 失敗 %zu%s\n", count, saved, failed,
                     cancelled ? " (キャンセル)" : "");
    else
        std::fprintf(stderr, "見つかったファイル %zu%s\n", count, cancelled ? " (キャンセル)" : "");
    return 0;
}

}  // namespace veld
