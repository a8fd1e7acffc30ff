// minihost/testing.h: the stand-in host with what only tests want of it.
//
// TestHost is a Host that can make any service fail on demand, logs the
// calls the effect makes, and counts what the effect did wrong. Linking
// this library also puts a handle store in place that accounts for every
// live handle across the process and has a strict relocating mode.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "minihost/minihost.h"

namespace minihost {

// ------------------------------------------------------------------ faults

// Makes the n-th call of one service fail, counting from when it was armed
// (n = 1: the very next call). With `sticky` that call and every later one
// fail. `error` is what the failing call returns (some services can only
// report a failure as a null result; they ignore it).
struct FaultCountdown {
    void arm(int32_t n, int32_t error = HOST_ERR_OUT_OF_MEMORY, bool sticky = false);
    void disarm();
    // Called by the service for every call; true means this call fails.
    bool trigger();
    bool armed() const { return target_ > 0; }
    int32_t callsSinceArmed() const { return calls_; }
    int32_t error = HOST_ERR_OUT_OF_MEMORY;

private:
    int32_t target_ = 0;
    int32_t calls_ = 0;
    bool sticky_ = false;
};

struct Faults {
    FaultCountdown newHandle;     // new handle returns null
    FaultCountdown resizeHandle;  // resize returns `error`, handle unchanged
    FaultCountdown imageCopy;     // world transform suite, entry 3
    FaultCountdown imageFill;     // fill matte suite, entry 0
    FaultCountdown newImage;      // world suite, entry 0
    FaultCountdown disposeImage;  // utilities' disposeWorld
    FaultCountdown pixelAddress;  // both pixel-address callbacks; error 0: success with a null address
    FaultCountdown addParam;
    FaultCountdown registerUI;
    FaultCountdown updateParamUI;  // param utils suite, entry 0
    FaultCountdown keyframeCount;  // param utils suite, entry 5
    // Parameter check-out: counts only check-outs of `checkoutIndex` (-1: any).
    FaultCountdown checkout;
    int32_t checkoutIndex = -1;
    // Suite names whose acquire leaves the pointer null; the value is what
    // the acquire entry returns (0 is allowed: "success" without a table).
    std::map<std::string, int32_t> failAcquire;
    // Suite names whose release returns the given error.
    std::map<std::string, int32_t> failRelease;
    bool noBasicSuite = false;  // in.basicSuite is null for the next command
    bool noPrefStore = false;   // getApplicationStore leaves the store null, returns 0
    int32_t prefStoreError = 0; // getApplicationStore returns this (store set)
    // Reading this preference key (either type) returns `prefReadError`.
    std::string failPrefReadKey;
    int32_t prefReadError = HOST_ERR_INTERNAL;
    int32_t stringTableOpenError = 0;  // non-zero: open fails with it
    bool newImageShallow = false;      // new image returns 8 bits even when 16 are asked for
    int32_t newImageRowPadding = 0;    // extra bytes at the end of every row of a new image
};

// ----------------------------------------------------------------- handles

struct HandleStats {
    uint64_t live = 0;       // handles allocated and not disposed
    uint64_t liveBytes = 0;  // sum of their sizes
    uint64_t locked = 0;     // live handles with a lock count above 0
    uint64_t allocations = 0;
    uint64_t moves = 0;      // relocations (strict mode, or a resize that moved)
    uint64_t misuse = 0;     // unknown handle, double dispose, unbalanced unlock
};
// Every live handle of the process, whichever host made it.
HandleStats handleStats();

struct HandleInfo {
    bool live = false;
    uint64_t size = 0;
    int32_t lockCount = 0;
};
HandleInfo handleInfo(HostHandle h);

// Strict relocating mode: every block whose lock count is 0 moves to a new
// address on its next lock or resize, and every growth moves it, to a place
// of exactly the new size (so a write past the end is caught at once);
// freed, moved-from and cut-off memory is filled with 0xDD (and kept out of
// reuse for a while), new memory with 0xBE. Outside strict mode new memory
// is zero-filled and blocks stay put until they outgrow their room.
void setStrictHandles(bool on);
bool strictHandles();

// Frees every live handle (test clean-up after a leak has been reported).
void disposeAllHandles();

// -------------------------------------------------------------------- host

struct UIUpdate {
    int32_t index;
    int32_t uiFlags;
    HostParam param;  // the whole record the effect passed
};

struct ProgressCall {
    int32_t current;
    int32_t total;
};

class TestHost : public Host, private Monitor {
public:
    TestHost();
    ~TestHost() override;

    Faults faults;

    // Every message the effect asked to show, as shown.
    const std::vector<std::string> &shownMessages() const { return shown_; }
    const std::vector<CheckoutRecord> &checkouts() const { return checkouts_; }
    const std::vector<UIUpdate> &uiUpdates() const { return uiUpdates_; }
    // The UI flags last set for `index` through the param utils suite, or -1.
    int32_t uiFlags(int32_t index) const;
    const std::vector<ProgressCall> &progressCalls() const { return progress_; }
    // The n-th progress call from now (1 = the next) answers `answer`;
    // every other call answers 0.
    void stopProgressAt(int32_t n, int32_t answer);
    // Every text lookup made, by message number.
    const std::vector<int32_t> &lookups() const { return lookups_; }
    // Every preference key read, in order.
    std::vector<std::string> &prefReads() { return prefReads_; }
    // Everything the effect did against the protocol.
    const std::vector<std::string> &protocolErrors() const { return protocolErrors_; }

    struct SuiteCount {
        int32_t acquired = 0;  // successful acquisitions
        int32_t released = 0;
        int32_t failedAcquires = 0;
    };
    std::map<std::string, SuiteCount> suiteCounts() const { return suiteCounts_; }
    // True when every suite acquired was released as often.
    bool suitesBalanced() const;

    // Drops the logs (check-outs, UI updates, progress, lookups, shown
    // messages, preference reads) for a long run; a pending stop is kept.
    void forgetHistory();

private:
    std::optional<int32_t> failure(const ServiceCall &call) override;
    void commandStarting(HostInData &in) override;
    void commandFinished(HostInData &in) override;
    int32_t progress(int32_t current, int32_t total) override;
    void checkedOut(const CheckoutRecord &record) override { checkouts_.push_back(record); }
    void uiUpdated(int32_t index, const HostParam &param) override;
    void lookedUp(int32_t message) override { lookups_.push_back(message); }
    void shown(const std::string &message) override { shown_.push_back(message); }
    void suiteAcquired(const std::string &name, bool granted) override;
    void suiteReleased(const std::string &name) override { ++suiteCounts_[name].released; }
    void prefRead(const std::string &, const std::string &key) override { prefReads_.push_back(key); }
    void protocolError(const std::string &what) override { protocolErrors_.push_back(what); }
    void shapeImage(bool &deep, int32_t &rowPadding) override;

    std::vector<std::string> shown_;
    std::vector<CheckoutRecord> checkouts_;
    std::vector<UIUpdate> uiUpdates_;
    std::vector<ProgressCall> progress_;
    int32_t progressStopAt_ = 0;
    int32_t progressAnswer_ = 0;
    std::vector<int32_t> lookups_;
    std::vector<std::string> prefReads_;
    std::vector<std::string> protocolErrors_;
    std::map<std::string, SuiteCount> suiteCounts_;
    const HostBasicSuite *hiddenSuites_ = nullptr;
};

}  // namespace minihost
