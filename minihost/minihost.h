// minihost: a stand-in for the compositing host, as a library.
//
// It plays the host the effect expects: relocatable memory handles with
// exact sizes and counted locks, the utility table, the string-table
// service, the basic suite table with its five suites, parameter values as
// timelines, a preference store, images, progress, and loading the effect
// library to drive its two entry points. It knows nothing of any particular
// effect: the effect tells it its texts, parameters and preference keys.
//
// Two ways to use it:
//   * End to end: `Plugin plugin(path); plugin.registerEffect();` then
//     `host.send(plugin.entry(), HOST_CMD_GLOBAL_SETUP)` and so on.
//   * In process: call the effect's internal functions with `&host.in` and
//     `&host.out` (and `host.params()` / an `Image`'s `world()`).
//
// Callbacks that carry the effect reference find their host by it. The
// utility callbacks carry no context: they go to the host the calling thread
// is serving (the last one it constructed, sent a command through or made
// current with makeCurrent()), so hosts on different threads run effects at
// once; a thread that has served none gets the one made current last.
// Handles are process-wide, as the effect's global data outlives a command.
//
// A Monitor sees every service the host gives and may make any of them
// fail; the host's own sees nothing. minihost/testing.h builds fault
// injection, call logs and handle accounting on it for tests.
//
// Host-side failures (a plug-in path that does not load, a bad timeline)
// are thrown as std::runtime_error with a message meant for the user.
// Misuse of host services by the effect (double dispose, unknown handle) is
// never thrown across the effect: the call fails or does nothing, and the
// monitor is told.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pennaro/pennaro.h"

namespace minihost {

class Host;

// ----------------------------------------------------------------- monitor

// The services a Monitor can make fail.
enum class Service {
    NewHandle,      // the new handle gives null
    ResizeHandle,   // the handle stays as it was
    NewImage,       // world suite
    DisposeImage,   // utilities' disposeWorld
    CopyImage,      // world transform suite
    FillImage,      // fill matte suite
    PixelAddress,   // both pixel-address callbacks; 0: success with a null address
    AddParam,
    RegisterUI,
    CheckoutParam,  // `index` is the parameter
    UpdateParamUI,  // param utils suite
    KeyframeCount,  // param utils suite
    AcquireSuite,   // `name` is the suite; 0: success without a table
    ReleaseSuite,   // `name` is the suite
    OpenStringTable,
    PrefStore,      // the store is still handed out with an error; 0: no store, no error
    ReadPref,       // `name` is the key
};

struct ServiceCall {
    Service service;
    int32_t index = 0;
    const char *name = nullptr;
};

struct CheckoutRecord {
    int32_t index;
    int32_t time;
    int32_t timeStep;
    uint32_t timeScale;
};

// Watches the host serve the effect. Each default lets the call through
// and keeps nothing.
class Monitor {
public:
    virtual ~Monitor() = default;
    // Asked before a service does anything: a value makes the call return
    // it at once (services whose only failure is a null result return null).
    virtual std::optional<int32_t> failure(const ServiceCall &) { return std::nullopt; }
    // Around the effect's entry point, for every command.
    virtual void commandStarting(HostInData &) {}
    virtual void commandFinished(HostInData &) {}
    // A progress call; the result is the host's answer (non-zero: stop).
    virtual int32_t progress(int32_t /*current*/, int32_t /*total*/) { return 0; }
    virtual void checkedOut(const CheckoutRecord &) {}
    virtual void uiUpdated(int32_t /*index*/, const HostParam &) {}
    virtual void lookedUp(int32_t /*message*/) {}
    virtual void shown(const std::string & /*message*/) {}
    virtual void suiteAcquired(const std::string & /*name*/, bool /*granted*/) {}
    virtual void suiteReleased(const std::string & /*name*/) {}
    virtual void prefRead(const std::string & /*section*/, const std::string & /*key*/) {}
    virtual void protocolError(const std::string & /*what*/) {}
    // A new image's depth and the padding bytes at the end of its rows.
    virtual void shapeImage(bool & /*deep*/, int32_t & /*rowPadding*/) {}
};

// ----------------------------------------------------------------- handles

// The memory behind handles, one store for the process. Every block reports
// exactly the size asked for. Locks are counted: a block is unlocked when
// its count is back to 0; unlocking an unlocked block is harmless (like on
// the real host) but reported.
//
// A block growing past what it holds moves to a place with room to spare
// (half as much again), so that a block built by appending moves a
// logarithmic number of times; a growth within that room, and every
// shrink, leaves it in place. Blocks larger than the size limit, and
// requests that would take the memory held by all blocks past the budget,
// are refused like an exhausted memory (new handle gives null, resize
// HOST_ERR_OUT_OF_MEMORY): a corrupt size read from a saved drawing, or a
// drawing too big for the machine, then fails cleanly through the effect's
// own out-of-memory path instead of exhausting the machine.
class HandleStore {
public:
    virtual ~HandleStore() = default;
    HostHandle create(uint64_t size);
    void *lock(HostHandle h);
    void unlock(HostHandle h);
    void dispose(HostHandle h);
    uint64_t size(HostHandle h);
    int32_t resize(uint64_t newSize, HostHandle *h);
    void setSizeLimit(uint64_t bytes);
    uint64_t sizeLimit();
    // The most memory all live blocks may hold together, room to spare
    // included. Lowering it below what they hold refuses new requests only.
    void setBudget(uint64_t bytes);
    uint64_t budget();
    size_t liveHandles();

    // Work done, for the tests and the benchmarks to assert on.
    struct Counters {
        uint64_t reservedBytes = 0;      // held by live blocks now, room to spare included
        uint64_t peakReservedBytes = 0;  // the most reservedBytes ever was
        uint64_t moves = 0;              // blocks moved to another place
        uint64_t bytesCopied = 0;        // content copied by those moves
        uint64_t refusals = 0;           // requests refused by the size limit or the budget
    };
    Counters counters();

protected:
    // The master pointer is the first member: a HostHandle points at it.
    struct Block {
        void *data = nullptr;
        uint64_t size = 0;
        int32_t locks = 0;
        uint64_t capacity = 0;  // bytes held at `data`, at least `size`
    };
    enum class Event { Created, Moved, Misused };

    // What a store that watches more closely changes. All are called with
    // `mutex` held.
    // Memory for a block of `size` bytes, every byte zero; null if none.
    virtual void *obtain(uint64_t size);
    // Memory a block no longer uses (`size` bytes were held there).
    virtual void giveBack(void *data, uint64_t size);
    // The tail a shrink in place cut off a block.
    virtual void cutOff(void * /*tail*/, uint64_t /*bytes*/) {}
    // Bytes a growth in place added to a block, to read as new memory does.
    virtual void grownInPlace(void *added, uint64_t bytes);
    // Whether a block whose lock count is 0 moves on its next lock or resize.
    virtual bool movesUnlocked() const { return false; }
    // Whether every move takes exactly the size asked for, leaving no room
    // to spare (so that a write past the end is caught at once).
    virtual bool exactCapacity() const { return false; }
    // Misuse is reported to the current host's monitor.
    virtual void noted(Event event, const char *misuse);

    std::mutex mutex;
    std::unordered_map<HostHandle, Block *> blocks;
    Counters counters_;

private:
    Block *find(HostHandle h, const char *misuse);
    bool relocate(Block &b, uint64_t newSize, uint64_t capacity);
    // Whether `more` bytes more may be held; counts a refusal when not.
    bool affordable(uint64_t more);
    void reserved(uint64_t more);
    uint64_t sizeLimit_ = uint64_t(1) << 30;
    uint64_t budget_ = UINT64_MAX;
};

// Puts `store` in place of the host's own for the rest of the process. Only
// before the first handle is made: later it throws std::logic_error.
void useHandleStore(HandleStore &store);
HandleStore &handleStore();

void setHandleSizeLimit(uint64_t bytes);
uint64_t handleSizeLimit();
void setHandleBudget(uint64_t bytes);
uint64_t handleBudget();

// The utilities as plain functions (the same ones the utility table holds).
HostHandle newHandle(uint64_t size);
void *lockHandle(HostHandle h);
void unlockHandle(HostHandle h);
void disposeHandle(HostHandle h);
uint64_t getHandleSize(HostHandle h);
int32_t resizeHandle(uint64_t newSize, HostHandle *h);

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
    void clear(int32_t threads = 0);
    int32_t padding() const { return padding_; }
    bool paddingIntact() const;
    // The pixels without padding, row by row.
    std::vector<uint8_t> packedPixels() const;
    bool samePixels(const Image &other) const;

private:
    void attach();
    // calloc'd: a fresh frame-sized image comes from fresh pages, already
    // zero, so nothing is written (or faulted in) before the effect does.
    struct FreeBytes {
        void operator()(uint8_t *p) const { std::free(p); }
    };
    void allocate(size_t size, const uint8_t *from);
    std::unique_ptr<uint8_t[], FreeBytes> bytes_;
    size_t size_ = 0;
    HostWorld world_{};
    int32_t padding_ = 0;
};

// ------------------------------------------------------------- preferences

// The application preference store: integers and reals by section and key.
// An integer read of a key that holds a real is refused; a real read of an
// integer gets it as a real.
class PrefStore {
public:
    struct Value {
        double value = 0.0;
        bool isInteger = false;
    };
    void setInt(const std::string &section, const std::string &key, int32_t value);
    void setReal(const std::string &section, const std::string &key, double value);
    void clear() { values_.clear(); }
    const Value *find(const std::string &section, const std::string &key) const;

private:
    std::map<std::pair<std::string, std::string>, Value> values_;
};

// What the host answered to one preference key, the last time it was read.
struct PrefAnswer {
    std::string section;
    std::string key;
    bool integer = false;  // asked for as an integer
    double dephault = 0;   // the default the effect passed
    double value = 0;      // what it was given (the default when nothing is stored)
    bool stored = false;   // the value came from the store
    int32_t error = 0;     // non-zero: the read was refused with it
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

// 16.16 of a real value, rounded to nearest, halves away from zero,
// saturated to the 32-bit range.
int32_t toFixed(double value);

// "#{cr}" turned into line breaks, as the host shows a text.
std::string displayText(const std::string &text);

// -------------------------------------------------------------------- host

class Host {
public:
    Host();
    virtual ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    static Host *current();
    void makeCurrent();

    // Nothing: the host's own, which watches nothing. The monitor must
    // outlive its use.
    void setMonitor(Monitor *monitor);
    Monitor &monitor() { return *monitor_; }

    // The records handed to the effect. `in` is fully wired: callbacks,
    // utilities, basic suite table, effect reference, 24 fps time
    // (timeScale 2400, timeStep and localTimeStep 100), a 1:1 layer.
    HostInData in{};
    HostOutData out{};
    PrefStore prefs;

    // -- commands
    // Like the real host: makes this host current, fills the parameter
    // array for in.currentTime, clears the message field and the output
    // flags, calls `entry`, then carries the global and sequence data
    // handles from `out` over to `in`. Returns the effect's result.
    int32_t send(FilterMainFn entry, int32_t command, HostWorld *output = nullptr);
    // The message the effect asked the host to show on return from the
    // last send() (output flag 0x100), as shown ("#{cr}" a line break);
    // empty when it asked for none.
    const std::string &shownMessage() const { return shown_; }
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

    // -- threads
    // How many threads this host offers the effect, and uses itself to
    // clear, fill and copy images in bands of rows. 0 (the default) asks for
    // none and the effect starts no thread; 1 asks, for one. Read when
    // global set-up is sent, by way of the process environment (the
    // variable effectThreadsVariable names, set for that command only; a
    // host must send it before starting threads of its own that read the
    // environment). The effect keeps what it was told until its global
    // set-down.
    int32_t threads = 0;
    static constexpr const char *effectThreadsVariable = "PENNARO_THREADS";

    // -- images the host made (world suite) and has not disposed
    int32_t liveImages() const { return static_cast<int32_t>(images_.size()); }
    // Off by default. When on, a disposed image is kept and handed out,
    // cleared, for the next new image of the same size and depth, as a
    // production host recycles its frame buffers. A long render then does
    // not fault in fresh pages for its scratch image every frame; tests
    // leave it off so that a use after dispose stays visible to ASan.
    bool reuseImages = false;

    // -- string tables
    int32_t openStringTables() const;

    // -- preferences: the last answer to each key read, in the order the
    // keys were first read.
    const std::vector<PrefAnswer> &prefAnswers() const { return prefAnswers_; }

    // The host's private state (open string tables, the store reference).
    struct Impl;
    Impl &impl() { return *impl_; }

private:
    friend struct HostCallbacks;
    void fillParam(int32_t index, int32_t time, HostParam &p) const;
    const HostParam *definitionFor(int32_t index) const;
    void answered(PrefAnswer answer);

    std::unique_ptr<Impl> impl_;
    Monitor *monitor_ = nullptr;
    HostWorld *layer_ = nullptr;
    std::vector<HostParam> defs_;
    std::vector<int32_t> addIndices_;
    bool uiRegistered_ = false;
    HostCustomUIInfo customUI_{};
    std::map<int32_t, Timeline> timelines_;
    HostParam paramStore_[64]{};
    HostParam *paramPtrs_[64]{};
    int32_t outstanding_ = 0;
    std::vector<std::unique_ptr<Image>> images_;
    std::vector<std::unique_ptr<Image>> spareImages_;
    std::vector<PrefAnswer> prefAnswers_;
    std::string shown_;
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
