#include "tools/disk_job.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "base/trace.h"


namespace veld {

std::string DiskProgressCounterText(const DiskJobCells& cells) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld/%lld", (long long)cells.progress.load(), (long long)cells.total.load());
    return text;
}

int DiskProgressPercent(const DiskJobCells& cells) {
    int64_t total = cells.bytesTotal.load();
    if (total <= 0) return 0;
    int percent = int(double(cells.bytesDone.load()) / double(total) * 100.0);
    return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

std::string ByteCountText(int64_t bytes) {
    // Digits grouped by three, then a short form in binary units.
    std::string digits = std::to_string(bytes < 0 ? 0 : bytes);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    std::string text = grouped + " バイト";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    if (unit >= 0) {
        char shortForm[32];
        std::snprintf(shortForm, sizeof shortForm, " (%.1f %s)", value, units[unit]);
        text += shortForm;
    }
    return text;
}

const char* DiskToolOpenErrorText() { return "オープンエラー"; }
const char* DiskToolAbortedText() { return "処理を中止しました"; }

DiskJob::~DiskJob() {
    if (worker_.joinable()) {
        RequestCancel();
        worker_.join();
    }
}

bool DiskJob::Start() {
    cells_.running.store(-1);
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    // The worker owns the job from here on; wait until it has taken over,
    // as the interface's first poll must see it running or finished.
    while (cells_.running.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void DiskJob::Run() {
    cells_.result.store(DiskToolOk);
    cells_.running.store(1);
    int result = DiskToolOk;
    try {
        result = Work();
    } catch (...) {
        // Only allocation can throw here; report it as a failed transfer.
        TraceLine("ERROR disk job: the transfer stopped on %s", CaughtExceptionText().c_str());
        result = DiskToolWriteError;
    }
    cells_.result.store(result);
    cells_.running.store(0);
}

bool DiskJob::WaitFinished(int timeoutMs) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (cells_.running.load() == 1) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int DiskJob::Finish() {
    // The device, file and buffers are released only once the worker has
    // ended, however long a blocked device call keeps it.
    if (worker_.joinable()) worker_.join();
    // A job whose worker never ran did nothing: it counts as cancelled.
    if (cells_.running.load() != 0) cells_.result.store(DiskToolCancelled);
    int result = cells_.result.load();
    if (!released_) {
        released_ = true;
        Release(result);
    }
    return result;
}

void DiskJob::BeginPhase(int phase, int64_t bytes) {
    cells_.phase.store(phase);
    cells_.bytesDone.store(0);
    cells_.bytesTotal.store(bytes);
    cells_.progress.store(0);
    cells_.total.store((bytes + kDiskChunkBytes - 1) / kDiskChunkBytes);
}

void DiskJob::ChunkDone(int64_t bytes) {
    cells_.bytesDone.fetch_add(bytes);
    cells_.progress.fetch_add(1);
}

void DiskJob::NoteFailure(int64_t offset, int error) {
    cells_.failedOffset.store(offset);
    cells_.failedErrno.store(error);
}

int DiskJob::OpenFailed(int code, std::string text) {
    openFailure_ = std::move(text);
    return code;
}

std::string DiskJob::OutcomeText() const { return ResultText(cells_.result.load()); }

std::string DiskJob::DetailText() const { return Describe(cells_.result.load()); }

std::string DiskJob::Describe(int result) const {
    const int64_t offset = cells_.failedOffset.load();
    const int error = cells_.failedErrno.load();
    std::string where;
    if (offset >= 0) {
        char text[96];
        std::snprintf(text, sizeof text, "セクタ %lld (先頭から %lld バイト目)", (long long)(offset / (sectorSize_ ? sectorSize_ : 512)),
                      (long long)offset);
        where = text;
    }
    std::string why = error ? std::string(": ") + std::strerror(error) : std::string();
    switch (result) {
        case DiskToolReadError: return "読み取りに失敗しました: " + where + why;
        case DiskToolWriteError: return "書き込みに失敗しました: " + where + why;
        case DiskToolVerifyReadError: return "書き込んだ内容を読み返せませんでした: " + where + why;
        case DiskToolVerifyMismatch:
            return "読み返した内容が書き込んだ内容と一致しません。最初に異なる位置: " + where;
        case DiskToolCancelled: {
            std::string text = ByteCountText(cells_.bytesTotal.load()) + " のうち " +
                               ByteCountText(cells_.bytesDone.load()) + " を処理したところで中止しました";
            if (cells_.passCount.load() > 1)
                text = "パス " + std::to_string(cells_.pass.load()) + "/" + std::to_string(cells_.passCount.load()) +
                       ": " + text;
            return text;
        }
        default: return {};
    }
}

}  // namespace veld
