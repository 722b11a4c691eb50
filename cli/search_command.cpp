// veld-cli search: runs the very search the GUI runs (RunSearch on the search
// worker with the options the options dialog would produce), lists what it
// found, and optionally saves it. With --json (and no --save) each record is
// written as soon as it is found, so a long search shows results before it
// ends and one that is stopped keeps them; what the search's end changed in
// a record already written follows as a revision.
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <unistd.h>

#include "base/format_text.h"
#include "base/search_progress.h"
#include "base/search_time_left.h"
#include "base/trace.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/record_json.h"
#include "cli/streamed_records.h"
#include "cli/terminal_text.h"
#include "platform/finish_waiter.h"
#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "search/save_target.h"
#include "search/search_driver.h"

namespace veld {
namespace {

struct SearchArgs {
    std::optional<int64_t> first, last;
    bool picturesOnly = false;
    bool detail = true;
    bool trace = false;
    bool json = false;
    bool flat = false;
    int partition = kPartitionAuto;
    int threads = -1;  // thumbnail workers; -1: one per spare core
    std::string saveDir;
    std::string source;
};

// Exit codes of `veld-cli search`.
constexpr int kExitOk = 0;           // searched; every requested save succeeded
constexpr int kExitFailed = 1;       // not searched, or a file could not be saved
constexpr int kExitUsage = 2;        // a wrong command line
constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (128 + SIGINT)

// A decimal cluster number, nothing before or after it ("12abc" is no number).
bool ParseNumber(const std::string& text, int64_t* out) {
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, *out, 10);
    return !text.empty() && error == std::errc() && at == end;
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
                return kExitUsage;
            }
            (s == "--first" ? a->first : a->last) = n;
        } else if (s == "--partition") {
            const std::string* v = value("--partition");
            if (!v || !ParsePartitionNumber(*v, &a->partition)) {
                std::fprintf(stderr, "--partition needs a partition number (1, 2, ...)\n");
                return kExitUsage;
            }
        } else if (s == "--threads") {
            const std::string* v = value("--threads");
            if (!v || !ParseNumber(*v, &n) || n < 0 || n > 64) {
                std::fprintf(stderr, "--threads needs a number of thumbnail workers (0 to 64)\n");
                return kExitUsage;
            }
            a->threads = int(n);
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
            if (!v) return kExitUsage;
            // The extraction recreates folders below an absolute target.
            std::error_code error;
            std::filesystem::path dir = v->empty() ? std::filesystem::path() : std::filesystem::absolute(*v, error);
            if (dir.empty() || error) {
                std::fprintf(stderr, "--save needs a folder\n");
                return kExitUsage;
            }
            a->saveDir = dir.lexically_normal().string();
        } else if (s.size() > 1 && s[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n", s.c_str());
            return kExitUsage;
        } else {
            a->source = s;
        }
    }
    if (a->source.empty()) {
        std::fprintf(stderr, "veld-cli search: SOURCE is missing\n");
        return kExitUsage;
    }
    return 0;
}

// The options dialog's rules: the range starts as the whole volume, the
// start is raised to 2, the end lowered to the cluster count (a range ending
// there reaches the volume's last cluster, cluster count + 1), and a range
// that differs from the whole volume searches only the clusters.
SearchOptions MakeOptions(const SearchArgs& a, int64_t clusterCount) {
    SearchOptions o;
    const int64_t maximum = clusterCount;
    // Both ends lie within 2 .. maximum, as the sliders hold them.
    auto clamp = [&](int64_t v) { return std::max<int64_t>(2, std::min(v, maximum)); };
    int64_t first = clamp(a.first.value_or(2)), last = clamp(a.last.value_or(maximum));
    if (first > last) std::swap(first, last);
    o.firstCluster = first;
    o.lastCluster = last;
    o.rangeOnly = (first == 2 && last == maximum) ? 0 : 1;
    o.flags = (a.picturesOnly ? SearchImagesOnly : 0) | (a.detail ? SearchDetailed : 0);
    o.partition = a.partition;
    return o;
}

// Progress on standard error: the phase heading, the percentage, the found
// count and, in the signature search once it has run a second, its rate
// and the time left. On a terminal the line is rewritten in place, only when
// its text changes and at most ten times a second (a search reports far more
// often than a terminal can show); without one, each phase is announced once
// on its own line.
class CliProgress final : public ProgressDisplay {
public:
    using Clock = SearchTimeLeft::Clock;
    static constexpr auto kRepaintGap = std::chrono::milliseconds(100);

    // rangeBytes: what the signature search's 100 % stands for.
    CliProgress(const SearchSession& session, bool terminal, uint64_t rangeBytes)
        : session_(session), terminal_(terminal), rangeBytes_(rangeBytes) {}
    void SetLine(int line, const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (line != 1 || text == left_.heading()) return;
        // Without a terminal each phase is announced once.
        if (!terminal_ && announced_.insert(text).second) std::fprintf(stderr, "%s\n", text.c_str());
        left_.Heading(text, Clock::now());
        Draw(false);
    }
    void SetPercent(int percent) override {
        std::lock_guard<std::mutex> guard(lock_);
        left_.Percent(percent, Clock::now());
        Draw(false);
    }
    // From the waiting loop: the found count and the time left move on
    // between reports.
    void Tick() {
        std::lock_guard<std::mutex> guard(lock_);
        if (!finished_) Draw(false);
    }
    // Takes the line off the terminal while a record is printed there.
    void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        if (terminal_ && !shown_.empty()) std::fprintf(stderr, "\r\033[K");
        shown_.clear();
    }
    void Finish() {
        std::lock_guard<std::mutex> guard(lock_);
        if (!left_.heading().empty()) Draw(true);
        if (terminal_ && !shown_.empty()) std::fprintf(stderr, "\n");
        shown_.clear();
        finished_ = true;
    }

private:
    std::string Text() const {
        char text[512];
        int n = std::snprintf(text, sizeof text, "%s %3d%%  見つかったファイル %d", left_.heading().c_str(),
                              left_.percent(), session_.FoundCount.load());
        const Clock::time_point now = Clock::now();
        const int64_t left = left_.SecondsLeft(now);
        if (left >= 0 && n > 0 && size_t(n) < sizeof text) {
            const uint64_t rate = uint64_t(double(rangeBytes_) * left_.RangePerSecond(now));
            std::snprintf(text + n, sizeof text - size_t(n), "  %s/秒  %s", FormatSizeText(rate).c_str(),
                          TimeLeftText(left).c_str());
        }
        return text;
    }
    // force: the end; otherwise at most once every kRepaintGap.
    void Draw(bool force) {
        if (!terminal_ || left_.heading().empty()) return;
        const Clock::time_point now = Clock::now();
        if (!force && now - drawnAt_ < kRepaintGap) return;
        const std::string text = Text();
        if (text == shown_) return;
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
        shown_ = text;
        drawnAt_ = now;
    }
    std::mutex lock_;
    const SearchSession& session_;
    bool terminal_;
    uint64_t rangeBytes_;
    std::string shown_;  // the line on the terminal now ("" when none)
    std::set<std::string> announced_;
    SearchTimeLeft left_;  // the heading and percentage shown, and the time left
    bool finished_ = false;
    Clock::time_point drawnAt_{};
};

// Ctrl-C: the first one during the search ends the search (what was found is
// still listed and saved); one during saving stops the saving. Either way the
// command ends with kExitInterrupted. The handler reaches the command's
// session through this pointer, set while the command runs.
volatile std::sig_atomic_t gInterrupts = 0;
std::atomic<SearchSession*> gInterruptedSession{nullptr};  // lock-free: safe in the handler

extern "C" void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
    if (SearchSession* session = gInterruptedSession.load()) RequestCancel(*session);
}

}  // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
    SearchArgs a;
    if (int rc = ParseArgs(args, &a)) return rc;
    SourceArgument source = ParseSource(a.source);

    // A save folder that cannot be used is known before a long search.
    if (!a.saveDir.empty()) {
        std::string problem = SaveFolderProblem(a.saveDir);
        if (!problem.empty()) {
            std::fprintf(stderr, "保存先フォルダを使用できません: %s\n(%s)\n", TerminalText(a.saveDir).c_str(),
                         problem.c_str());
            return kExitFailed;
        }
    }

    // Like the options dialog: open once to learn the cluster range.
    int64_t clusterCount = 0;
    uint32_t clusterSize = 0;
    {
        auto probe = DiskIO_Open(source.path, source.driveLetter, a.partition);
        if (!probe && DiskIO_LastOpenNoPartition()) {
            // --partition names no partition of this source: a wrong command line.
            std::fprintf(stderr, "%s\n", OpenFailureText(source).c_str());
            return kExitUsage;
        }
        if (!probe) {
            std::fprintf(stderr, "%s\n%s\n", SearchErrorText(SearchOpenFailed).c_str(), OpenFailureText(source).c_str());
            return kExitFailed;
        }
        clusterCount = probe->clusterCount;
        clusterSize = probe->clusterSize;
    }
    SearchOptions options = MakeOptions(a, clusterCount);
    options.thumbnailThreads = a.threads;

    if (a.trace)
        SetTraceSink([](const std::string& line) {
            // Trace lines carry card names; a line's own final newline stays one.
            std::string text = line;
            while (!text.empty() && text.back() == '\n') text.pop_back();
            std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
        });
    SearchSession session;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const uint64_t rangeBytes = uint64_t(options.lastCluster - options.firstCluster + 1) * clusterSize;
    CliProgress progress(session, terminal, rangeBytes);
    session.progress.Attach(&progress);
    FinishWaiter target;

    // The handler that reaches the session is removed before the session goes.
    struct InterruptScope {
        explicit InterruptScope(SearchSession* session) { gInterruptedSession = session; }
        ~InterruptScope() {
            std::signal(SIGINT, SIG_DFL);
            gInterruptedSession = nullptr;
        }
    } interruptScope(&session);
    gInterrupts = 0;
    std::signal(SIGINT, OnInterrupt);
    // A file size limit is a write error of the file concerned, not the end
    // of the program.
    std::signal(SIGXFSZ, SIG_IGN);
    if (StartSearchWorker(session, &target, source.driveLetter, source.path, options) != 0) {
        std::signal(SIGINT, SIG_DFL);
        std::fprintf(stderr, "スレッド起動エラー\n");
        session.progress.Attach(nullptr);
        return kExitFailed;
    }
    // --json without --save: each record goes out as soon as it is found
    // (and its thumbnail is settled, which its record tells).
    const bool stream = a.json && a.saveDir.empty();
    size_t streamed = 0;
    StreamedRecords written;
    auto streamFound = [&](bool all) {
        for (;; ++streamed) {
            if (!all && session.ThumbnailPending(streamed)) break;
            std::optional<DelFileInfo> record = session.gcDelFileList.CopyAt(streamed);
            if (!record) break;
            if (!record->listed) continue;  // withdrawn: the same file as another record
            // Standard output on the same terminal: the progress line steps aside.
            if (terminal && ::isatty(STDOUT_FILENO)) progress.Clear();
            std::printf("%s\n", written.Line(*record).c_str());
            std::fflush(stdout);
        }
    };
    int result = 0;
    while (!target.WaitFor(100, &result)) {
        if (stream) streamFound(false);
        progress.Tick();
    }
    WaitForSearchWorker(session, 60000);
    session.progress.Attach(nullptr);
    progress.Finish();
    SetTraceSink({});

    // A search that stopped on an error still lists (and saves) what it found.
    const bool stoppedOnError = result == SearchFailed;
    if (stoppedOnError) std::fprintf(stderr, "検索中にエラーが発生しました \n(%s)\n", SearchErrorText(result).c_str());
    if (result != SearchOk && !stoppedOnError) {
        std::signal(SIGINT, SIG_DFL);
        std::fprintf(stderr, "検索中にエラーが発生しました \n(%s)\n", SearchErrorText(result).c_str());
        if (result == SearchOpenFailed)
            std::fprintf(stderr, "%s\n",
                         OpenFailureText(source, session.lastOpenError, session.lastOpenDenied).c_str());
        return gInterrupts ? kExitInterrupted : kExitFailed;
    }
    const bool cancelled = session.Cancelled();
    const size_t count = session.gcDelFileList.Count();
    if (session.FoundCount.load() == 0 && !cancelled) std::fprintf(stderr, "ファイルは見つかりませんでした\n");

    // Ctrl-C from here on stops the saving; the list is still printed whole.
    const int interruptsBeforeSaving = gInterrupts;
    auto savingStopped = [&] { return gInterrupts != interruptsBeforeSaving; };
    size_t saved = 0, failed = 0;
    bool saveStopped = false;
    if (!a.json) std::printf("%s\n", FoundFileHeaderLine().c_str());
    if (stream) {
        // What the end of the search changed in records already written.
        for (size_t i = 0; i < streamed; ++i) {
            std::optional<DelFileInfo> record = session.gcDelFileList.CopyAt(i);
            if (!record) continue;
            if (std::optional<std::string> revision = written.Revision(*record))
                std::printf("%s\n", revision->c_str());
        }
        streamFound(true);
    }
    if (!a.saveDir.empty() && session.volume) {
        // Saving far more than the card holds writes the same data again and
        // again (files that claim the same clusters): said before it starts.
        uint64_t total = 0;
        for (size_t i = 0; i < count; ++i)
            if (std::optional<DelFileInfo> record = session.gcDelFileList.CopyAt(i); record && record->listed)
                total += std::min(SaveByteCount(*session.volume, *record), UINT64_MAX - total);
        const uint64_t card = CardByteCount(*session.volume);
        if (card > 0 && total / kSaveCardFactor > card)
            std::fprintf(stderr, "注意: 保存するファイルは合計 %s で、カードの容量 %s の %llu 倍です (同じクラスタを指すファイルが多くあります)\n",
                         FormatSizeText(total).c_str(), FormatSizeText(card).c_str(), (unsigned long long)(total / card));
    }
    for (size_t i = stream ? count : 0; i < count; ++i) {
        std::optional<DelFileInfo> record = session.gcDelFileList.CopyAt(i);
        if (!record || !record->listed) continue;
        std::optional<std::string> savedPath;
        saveStopped = saveStopped || savingStopped();
        if (!a.saveDir.empty() && session.volume && !saveStopped) {
            ExtractRequest request;
            request.targetFolder = a.saveDir;
            request.keepFolders = !a.flat;
            request.progress = [&](int) { return !savingStopped(); };
            ExtractOutcome outcome = ExtractFoundFile(*session.volume, *record, request);
            if (outcome.result == ExtractOk && !outcome.path.empty()) {
                savedPath = outcome.path;
                ++saved;
                if (!outcome.note.empty())
                    std::fprintf(stderr, "注意: %s: %s\n", TerminalText(outcome.path).c_str(), outcome.note.c_str());
            } else if (outcome.result == ExtractCancelled) {
                saveStopped = true;
            } else {
                ++failed;
                std::string reason = outcome.reason.empty() ? ExtractResultText(outcome.result) : outcome.reason;
                std::fprintf(stderr, "保存できませんでした: %s: %s\n",
                             TerminalText(ExtractTargetPath(*record, request)).c_str(), reason.c_str());
            }
        }
        if (a.json)
            std::printf("%s\n", FoundFileJson(*record, savedPath).c_str());
        else
            std::printf("%s\n", FoundFileRowLine(*record).c_str());
    }
    std::signal(SIGINT, SIG_DFL);
    // A full output disk shows here: the listing is part of the result.
    const bool listed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!listed) std::fprintf(stderr, "一覧を出力できませんでした\n");
    if (saveStopped) std::fprintf(stderr, "保存を中断しました\n");
    if (!a.saveDir.empty())
        std::fprintf(stderr, "見つかったファイル %zu, 保存 %zu, 失敗 %zu%s\n", size_t(session.FoundCount.load()), saved, failed,
                     cancelled || saveStopped ? " (キャンセル)" : "");
    else
        std::fprintf(stderr, "見つかったファイル %zu%s\n", size_t(session.FoundCount.load()), cancelled ? " (キャンセル)" : "");
    for (const ClusterRange& skipped : session.notExamined)
        std::fprintf(stderr, "%s\n", NotExaminedText(skipped.first, skipped.last, skipped.reason).c_str());
    if (gInterrupts) return kExitInterrupted;
    return failed == 0 && listed && !stoppedOnError ? kExitOk : kExitFailed;
}

}  // namespace veld
