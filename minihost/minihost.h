// minihost: a stand-in for the compositing host, as a library.
//
// It plays the host the effect expects: relocatable memory handles with
// exact sizes and counted locks, the utility table, the string-table
// service, the basic suite table with its five suites, parameter values as
// timelines, a preference store, images, progress, and loading the effect
// library to drive its two entry points. On top of that it gives tests what
// a real host never would: accounting of every live handle, image and
// check-out, fault injection for every service, and a strict mode that moves
// memory around to catch pointers kept across an unlock.
//
// Two ways to use it:
//   * End to end: `Plugin plugin(path); plugin.registerEffect();` then
//     `host.send(plugin.entry(), HOST_CMD_GLOBAL_SETUP)` and so on.
//   * In process: call the effect's internal functions with `&host.in` and
//     `&host.out` (and `host.params()` / an `Image`'s `world()`).
//
// The host's utility callbacks carry no context, so one `Host` at a time is
// "current": the one constructed last (or made current with makeCurrent()).
// Handles are process-wide: `handleStats()` counts every live block no
// matter which host made it.
//
// Host-side failures (an unknown key in a preference file, a plug-in path
// that does not load) are thrown as std::runtime_error with a message meant
// for the user. Misuse of host services by the effect (double dispose,
// unknown handle) is never thrown across the effect: it is counted in
// `Host::protocolErrors()` / `handleStats().misuse` so a test can assert none.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pennaro/pennaro.h"

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
//
// Every block has exactly the size asked for. Locks are counted: a block is
// unlocked when its count is back to 0. Unlocking an unlocked block is
// harmless (like the real host) but counted as misuse.

struct HandleStats {
    uint64_t live = 0;       // handles allocated and not disposed
    uint64_t liveBytes = 0;  // sum of their sizes
    uint64_t locked = 0;     // live handles with a lock count above 0
    uint64_t allocations = 0;
    uint64_t moves = 0;      // relocations (strict mode, or a resize that moved)
    uint64_t misuse = 0;     // unknown handle, double dispose, unbalanced unlock
};
HandleStats handleStats();

struct HandleInfo {
    bool live = false;
    uint64_t size = 0;
    int32_t lockCount = 0;
};
HandleInfo handleInfo(HostHandle h);

// Strict relocating mode: every block whose lock count is 0 moves to a new
// address on its next lock or resize; freed and moved-from memory is filled
// with 0xDD (and kept out of reuse for a while), new memory with 0xBE.
// Outside strict mode new memory is zero-filled and blocks stay put.
void setStrictHandles(bool on);
bool strictHandles();

// Blocks larger than this are refused like an exhausted memory (new handle
// gives null, resize gives HOST_ERR_OUT_OF_MEMORY). Default 1 GiB, so a
// corrupt size read from a saved drawing fails cleanly instead of
// exhausting the machine.
void setHandleSizeLimit(uint64_t bytes);
uint64_t handleSizeLimit();

// The utilities as plain functions (the same ones the utility table holds).
HostHandle newHandle(uint64_t size);
void *lockHandle(HostHandle h);
void unlockHandle(HostHandle h);
void disposeHandle(HostHandle h);
uint64_t getHandleSize(HostHandle h);
int32_t resizeHandle(uint64_t newSize, HostHandle *h);

// Frees every live handle (test clean-up after a leak has been reported).
void disposeAllHandles();

// ------------------------------------------------------------------ images

// An 8- or 16-bit ARGB image with optional padding bytes at the end of
// every row. Padding is filled with 0x5A so a test can check nothing wrote
// beyond the width. `world()` can be passed as the output image or set as
// the layer (parameter 0).
class Image {
public:
    Image(int32_t width, int32_t height, bool deep, int32_t rowPaddingBytes = 0);
    Image(const Image &other);
    Image &operator=(const Image &other);

    HostWorld &world() { return world_; }
    const HostWorld &world() const { return world_; }
    int32_t width() const { return world_.width; }
    int32_t height() const { return world_.height; }
    int32_t rowBytes() const { return world_.rowBytes; }
    bool deep() const { return (world_.flags & HOST_WORLD_FLAG_DEEP) != 0; }

    HostPixel8 &pixel8(int32_t x, int32_t y);
    HostPixel16 &pixel16(int32_t x, int32_t y);
    const HostPixel8 &pixel8(int32_t x, int32_t y) const;
    const HostPixel16 &pixel16(int32_t x, int32_t y) const;
    // Channels in alpha, red, green, blue order; 16-bit values go in as they
    // are, 8-bit ones are truncated to their low byte.
    void fill(uint16_t a, uint16_t r, uint16_t g, uint16_t b);
    // Every pixel to zero in all channels; the row padding stays as it is.
    void clear();
    int32_t padding() const { return padding_; }
    bool paddingIntact() const;
    // The pixels without padding, row by row.
    std::vector<uint8_t> packedPixels() const;
    bool samePixels(const Image &other) const;

private:
    void attach();
    std::vector<uint8_t> bytes_;
    HostWorld world_{};
    int32_t padding_ = 0;
};

// ------------------------------------------------------------- preferences
//
// Section "Pennaro" of the application store. Integer keys: the four
// switches and the two frame counts; real keys: opacity and the six colour
// components (the key texts are the effect's preference key texts).

class PrefStore {
public:
    static const char *section();
    static const std::vector<std::string> &integerKeys();
    static const std::vector<std::string> &realKeys();

    // Throw std::runtime_error for an unknown key or a value out of the
    // 32-bit range.
    void setInt(const std::string &key, int64_t value);
    void setReal(const std::string &key, double value);
    // Stores a value under any section and key without checks (to play a
    // store that holds odd content).
    void setRaw(const std::string &section, const std::string &key, double value, bool isInteger);
    void clear();
    // {"Onion skin - Opacity": 0.35, "Onion skin - Frames backward": 4}.
    // Integers for integer keys, numbers for real keys; anything else
    // (unknown key, wrong type, not an object, bad JSON) throws with a
    // message naming the file and the key. Nothing is changed on error.
    void loadJsonFile(const std::string &path);
    void loadJsonText(const std::string &text, const std::string &origin = "preferences");

    struct Value {
        double value = 0.0;
        bool isInteger = false;
    };
    const Value *find(const std::string &section, const std::string &key) const;
    // Every stored key of section "Pennaro".
    std::map<std::string, Value> entries() const;

    // Reads made through the suite, in order (key texts).
    std::vector<std::string> reads;

private:
    std::map<std::pair<std::string, std::string>, Value> values_;
};

// -------------------------------------------------------------- parameters
//
// Every parameter index holds a timeline: a constant, or keyframes (host
// time -> value). Values are in real units: sliders hold real numbers
// (interpolated linearly between keys, held outside them) and reach the
// effect as 16.16 fixed, rounded to nearest with halves away from zero;
// popups and checkboxes hold integers, each key holding until the next.
// Index 0 is the layer: its value area carries the layer image.

struct Keyframe {
    int32_t time;
    double value;
};

struct Timeline {
    double constant = 0.0;
    std::vector<Keyframe> keys;  // sorted by time; empty: constant
    double valueAt(int32_t time, bool interpolate) const;
};

struct CheckoutRecord {
    int32_t index;
    int32_t time;
    int32_t timeStep;
    uint32_t timeScale;
};

struct UIUpdate {
    int32_t index;
    int32_t uiFlags;
    HostParam param;  // the whole record the effect passed
};

struct ProgressCall {
    int32_t current;
    int32_t total;
};

// 16.16 of a real value, rounded to nearest, halves away from zero,
// saturated to the 32-bit range.
int32_t toFixed(double value);

// "#{cr}" turned into line breaks, as the host shows a text.
std::string displayText(const std::string &text);

// -------------------------------------------------------------------- host

class Host {
public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    static Host *current();
    void makeCurrent();

    // The records handed to the effect. `in` is fully wired: callbacks,
    // utilities, basic suite table, effect reference, 24 fps time
    // (timeScale 2400, timeStep and localTimeStep 100), a 1:1 layer.
    HostInData in{};
    HostOutData out{};
    Faults faults;
    PrefStore prefs;

    // -- commands
    // Like the real host: makes this host current, fills the parameter
    // array for in.currentTime, clears the message field and the output
    // flags, calls `entry`, then carries the global and sequence data
    // handles from `out` over to `in`. Returns the effect's result.
    int32_t send(FilterMainFn entry, int32_t command, HostWorld *output = nullptr);
    // Messages the effect asked the host to show (output flag 0x100 on
    // return from send()), as the host would show them ("#{cr}" a line break).
    const std::vector<std::string> &shownMessages() const { return shown_; }
    // Calls `entry` with the records exactly as they are (current host,
    // parameter array filled, nothing cleared or carried over). Parameter
    // set-up (command 4) starts a fresh list of definitions.
    int32_t call(FilterMainFn entry, int32_t command, HostWorld *output = nullptr);

    // -- time
    void setFrame(int32_t frame);  // currentTime = frame * timeStep
    void setTime(int32_t time, int32_t timeStep, uint32_t timeScale);

    // -- layer (parameter 0) and layer geometry in `in`
    void setLayer(HostWorld *layer);
    HostWorld *layer() const { return layer_; }

    // -- parameters
    // Definitions the effect added at parameter set-up, in call order, with
    // the index argument of each call.
    const std::vector<HostParam> &definitions() const { return defs_; }
    const std::vector<int32_t> &addParamIndices() const { return addIndices_; }
    bool customUIRegistered() const { return uiRegistered_; }
    const HostCustomUIInfo &customUI() const { return customUI_; }
    // Sets a constant value (real units; for sliders a real number, for
    // popups and checkboxes an integer). Before parameter set-up has run the
    // value reaches the effect as an integer; sliders need the definitions.
    void setParam(int32_t index, double value);
    void setKeyframes(int32_t index, std::vector<Keyframe> keys);
    // The value that would reach the effect at `time` (first word of the
    // value area).
    int32_t paramValueAt(int32_t index, int32_t time) const;
    // The parameter array for a command at `time` (entry i is index i), as
    // the effect receives it. Valid until the next call.
    HostParam **params(int32_t time);
    HostParam **params() { return params(in.currentTime); }
    int32_t keyframeCount(int32_t index) const;

    int32_t outstandingCheckouts() const { return outstanding_; }
    // Drops the recorded call history (check-outs, UI updates, progress,
    // text lookups, shown messages) so that a long run does not grow it
    // without bound; counts and live state are kept.
    void forgetHistory();
    const std::vector<CheckoutRecord> &checkouts() const { return checkoutLog_; }
    const std::vector<UIUpdate> &uiUpdates() const { return uiUpdates_; }
    // The UI flags last set for `index` through the param utils suite, or -1.
    int32_t uiFlags(int32_t index) const;

    // -- progress
    const std::vector<ProgressCall> &progressCalls() const { return progress_; }
    // The n-th progress call from now (1 = the next) answers `answer`;
    // every other call answers 0.
    void stopProgressAt(int32_t n, int32_t answer);

    // -- suites: acquisitions and releases by name
    struct SuiteCount {
        int32_t acquired = 0;  // successful acquisitions
        int32_t released = 0;
        int32_t failedAcquires = 0;
    };
    std::map<std::string, SuiteCount> suiteCounts() const { return suiteCounts_; }
    // True when every suite acquired was released as often.
    bool suitesBalanced() const;

    // -- images the host made (world suite) and has not disposed
    int32_t liveImages() const { return static_cast<int32_t>(images_.size()); }
    // Off by default. When on, a disposed image is kept and handed out,
    // cleared, for the next new image of the same size and depth, as a
    // production host recycles its frame buffers. A long render then does
    // not fault in fresh pages for its scratch image every frame; tests
    // leave it off so that a use after dispose stays visible to ASan.
    bool reuseImages = false;
    const std::vector<std::string> &protocolErrors() const { return protocolErrors_; }
    void protocolError(const std::string &what);

    // -- string tables
    int32_t openStringTables() const { return static_cast<int32_t>(tables_.size()); }
    // Every text lookup made, by message number.
    const std::vector<int32_t> &lookups() const { return lookups_; }

    // The host's private state (open string tables, the store reference).
    struct Impl;
    Impl &impl() { return *impl_; }

private:
    friend struct HostCallbacks;
    void fillParam(int32_t index, int32_t time, HostParam &p) const;
    const HostParam *definitionFor(int32_t index) const;

    std::unique_ptr<Impl> impl_;
    HostWorld *layer_ = nullptr;
    std::vector<HostParam> defs_;
    std::vector<int32_t> addIndices_;
    bool uiRegistered_ = false;
    HostCustomUIInfo customUI_{};
    std::map<int32_t, Timeline> timelines_;
    HostParam paramStore_[64]{};
    HostParam *paramPtrs_[64]{};
    int32_t outstanding_ = 0;
    std::vector<CheckoutRecord> checkoutLog_;
    std::vector<UIUpdate> uiUpdates_;
    std::vector<ProgressCall> progress_;
    int32_t progressStopAt_ = 0;
    int32_t progressAnswer_ = 0;
    std::map<std::string, SuiteCount> suiteCounts_;
    std::vector<std::unique_ptr<Image>> images_;
    std::vector<std::unique_ptr<Image>> spareImages_;
    std::vector<std::string> protocolErrors_;
    std::set<void *> tables_;
    std::vector<int32_t> lookups_;
    std::vector<std::string> shown_;
};

// ------------------------------------------------------------------ plugin

struct Registration {
    void *hostPtr = nullptr;
    std::string nameKey;
    std::string matchName;
    std::string categoryKey;
    std::string entryPointName;
    uint32_t kind = 0;
    int32_t apiVersionMajor = 0;
    int32_t apiVersionMinor = 0;
    int32_t reservedInfo = 0;
};

// The effect library, loaded with dlopen (LoadLibrary on Windows). Throws
// std::runtime_error when the library or one of its two entry points cannot
// be found.
class Plugin {
public:
    explicit Plugin(const std::string &path);
    ~Plugin();
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    // Calls PluginDataEntryFunction with a callback that records every
    // record and answers `callbackResult`. Returns the effect's result.
    int32_t registerEffect(int32_t callbackResult = 0, void *hostPtr = nullptr);
    const std::vector<Registration> &registrations() const { return registrations_; }

    FilterMainFn entry() const { return filterMain_; }
    PluginDataEntryFn dataEntry() const { return dataEntry_; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
    void *library_ = nullptr;
    FilterMainFn filterMain_ = nullptr;
    PluginDataEntryFn dataEntry_ = nullptr;
    std::vector<Registration> registrations_;
};

}  // namespace minihost
