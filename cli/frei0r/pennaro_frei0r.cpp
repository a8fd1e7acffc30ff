// The effect as a frei0r filter, for FFmpeg's frei0r filter, MLT's melt and
// Kdenlive. Each instance is a render session of the tool: the drawing goes
// to the effect as a saved project hands it over, and every frame the video
// host hands in is rendered as a session frame of that size and time. Its
// pixels are then those of `pennaro render` at 8 bits by construction.
//
// Parameters are positional (FFmpeg passes them by position): the drawing,
// the host's time unit, the frame rate, a frame offset, every effect
// parameter in the order `pennaro describe` lists them, then the onion-skin
// preferences. frei0r numbers lie in [0, 1], so popups, sliders and integer
// preferences travel as text; checkboxes are bools.
extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalog/messages.h"
#include "catalog/prefs.h"
#include "cli/core/errors.h"
#include "cli/core/memory_budget.h"
#include "cli/render/command_line.h"
#include "cli/render/drawing.h"
#include "cli/render/options.h"
#include "cli/render/session.h"
#include "minihost/minihost.h"

namespace {

using namespace pennaro_cli;

enum class Role { Drawing, TimeUnit, FrameRate, FrameOffset, Effect, Pref };

struct Slot {
    std::string name;
    int type;  // F0R_PARAM_*
    std::string explanation;
    std::string defaultText;   // text parameters
    double defaultValue = 0;   // bools and doubles
    Role role;
    const ParamInfo *effect = nullptr;
    int pref = 0;  // index into the preference keys
};

std::string sliderText(int32_t fixed) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", fixed / 65536.0);
    return text;
}

std::vector<Slot> makeSlots() {
    std::vector<Slot> slots = {
        {"drawing", F0R_PARAM_STRING,
         "Drawing file (JSON or flattened block; FILE@N for drawing N found in a file). Empty: the built-in demo",
         "", 0, Role::Drawing},
        {"time unit", F0R_PARAM_STRING, "Unit of the host's time: s (MLT) or ms (FFmpeg's frei0r filter)", "s", 0,
         Role::TimeUnit},
        {"fps", F0R_PARAM_STRING, "Frame rate as pennaro render --fps takes it, such as 24 or 24000/1001", "24", 0,
         Role::FrameRate},
        {"frame offset", F0R_PARAM_STRING,
         "Subtracted from the host's frame number (time x fps, nearest) to give the drawing's frame", "0", 0,
         Role::FrameOffset},
    };
    for (const ParamInfo &p : effectParams()) {
        Slot slot{p.option, F0R_PARAM_STRING, "", "", 0, Role::Effect, &p};
        switch (p.kind) {
        case ParamKind::Checkbox:
            slot.type = F0R_PARAM_BOOL;
            slot.defaultValue = p.defaultValue ? 1.0 : 0.0;
            slot.explanation = "on or off";
            break;
        case ParamKind::Popup:
            slot.defaultText = p.choices.at(size_t(p.defaultValue - 1));
            for (const std::string &choice : p.choices)
                if (choice.rfind("(-", 0) != 0) slot.explanation += (slot.explanation.empty() ? "" : ", ") + choice;
            break;
        case ParamKind::Slider:
            slot.defaultText = sliderText(p.defaultValue);
            slot.explanation = "from " + sliderText(int32_t(p.validMin * 65536)) + " to " +
                               sliderText(int32_t(p.validMax * 65536));
            break;
        }
        slots.push_back(slot);
    }
    // The onion-skin preferences: the keys after the four switches.
    const pennaro::PaintPrefs defaults = pennaro::defaultPrefs();
    for (int32_t i = 4; i < pennaro::PREF_KEY_COUNT; ++i) {
        const pennaro::PrefKey &key = pennaro::PREF_KEYS[i];
        Slot slot{std::string(pennaro::messageText(key.message)), F0R_PARAM_DOUBLE, "", "", 0, Role::Pref};
        slot.pref = i;
        const double value = pennaro::prefValue(defaults, i);
        if (key.type == pennaro::PrefType::Integer) {
            slot.type = F0R_PARAM_STRING;
            slot.defaultText = std::to_string(int64_t(value));
            slot.explanation = "frames, 0 to 1000";
        } else {
            slot.defaultValue = value;
            slot.explanation = "0 to 1";
        }
        slots.push_back(slot);
    }
    return slots;
}

const std::vector<Slot> &slots() {
    static const std::vector<Slot> all = makeSlots();
    return all;
}

// Where `pennaro` would find the effect: PENNARO_PLUGIN, else beside this
// filter the way a build folder and an installation lay them out.
std::string effectLibraryPath() {
    if (const char *fromEnvironment = std::getenv("PENNARO_PLUGIN"); fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&f0r_construct), &info) || !info.dli_fname)
        throw ToolError("cannot tell where the filter was loaded from; set PENNARO_PLUGIN");
    const std::filesystem::path here = std::filesystem::absolute(info.dli_fname).parent_path();
    // lib/frei0r-1/pennaro.so beside lib/pennaro/<effect>; in a build
    // folder, frei0r-1/ beside the effect.
    const std::filesystem::path candidates[] = {here.parent_path() / "pennaro" / PENNARO_PLUGIN_FILE_NAME,
                                                here.parent_path() / PENNARO_PLUGIN_FILE_NAME};
    std::string tried;
    for (const auto &candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
        tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
    }
    throw ToolError("effect library not found; looked for " + tried + " (set PENNARO_PLUGIN)");
}

// The effect's band threads: every core paints each frame, since an editor's
// preview waits on one frame at a time. A host that already runs several
// instances at once shares the one pool; the effect then paints a frame that
// finds the pool busy on the host's own thread.
int32_t filterBandThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int32_t(std::clamp(cores, 1u, 256u));
}

void printEffectMessage(const std::string &text) {
    std::fprintf(stderr, "pennaro (frei0r): %s\n", text.c_str());
}

struct Instance {
    int32_t width, height;
    std::vector<std::string> texts;  // text parameters
    std::vector<double> values;      // bools and doubles
    bool sessionStale = true;        // the drawing, time or preferences changed
    bool paramsStale = false;        // only effect parameters changed

    Rational fps{24, 1};
    double unitsPerSecond = 1;
    int32_t frameOffset = 0;
    std::unique_ptr<RenderJob> job;
    std::unique_ptr<RenderSession> session;
    std::unique_ptr<minihost::Image> layer;
    std::string lastSaid;

    Instance(int32_t w, int32_t h) : width(w), height(h) {
        for (const Slot &slot : slots()) {
            texts.push_back(slot.defaultText);
            values.push_back(slot.defaultValue);
        }
    }

    // Once for each new reason, so that a host's log is not flooded with a
    // line per frame.
    void say(const std::string &why) {
        if (why == lastSaid) return;
        lastSaid = why;
        std::fprintf(stderr, "pennaro (frei0r): %s\n", why.c_str());
        std::fflush(stderr);
    }

    ParamSettings effectSettings() const {
        ParamSettings settings = defaultParamSettings();
        for (size_t i = 0; i < slots().size(); ++i) {
            const Slot &slot = slots()[i];
            if (slot.role != Role::Effect) continue;
            const std::string text = slot.type == F0R_PARAM_BOOL ? (values[i] >= 0.5 ? "on" : "off") : texts[i];
            setParamFromOption(settings, *slot.effect, text);
        }
        return settings;
    }

    std::string prefsText() const {
        nlohmann::json prefs = nlohmann::json::object();
        for (size_t i = 0; i < slots().size(); ++i) {
            const Slot &slot = slots()[i];
            if (slot.role != Role::Pref) continue;
            if (slot.type == F0R_PARAM_STRING) {
                const nlohmann::json value = nlohmann::json::parse(texts[i], nullptr, false);
                if (!value.is_number_integer())
                    throw UsageError("\"" + slot.name + "\": expected a whole number of frames, not \"" + texts[i] + "\"");
                prefs[slot.name] = value;
            } else {
                prefs[slot.name] = values[i];
            }
        }
        return prefs.dump();
    }

    void startSession() {
        session.reset();
        job.reset();
        const std::string &unit = texts[1];
        if (unit != "s" && unit != "ms") throw UsageError("time unit \"" + unit + "\": expected s or ms");
        unitsPerSecond = unit == "ms" ? 1000 : 1;
        fps = parseFrameRate(texts[2]);
        try {
            size_t used = 0;
            const long offset = std::stol(texts[3], &used);
            if (used != texts[3].size() || offset < -FRAME_NUMBER_LIMIT || offset > FRAME_NUMBER_LIMIT)
                throw std::out_of_range("offset");
            frameOffset = int32_t(offset);
        } catch (const std::logic_error &) {
            throw UsageError("frame offset \"" + texts[3] + "\": expected a whole number from " +
                             std::to_string(-FRAME_NUMBER_LIMIT) + " to " + std::to_string(FRAME_NUMBER_LIMIT));
        }
        auto next = std::make_unique<RenderJob>();
        next->pluginPath = effectLibraryPath();
        next->prefsText = prefsText();
        const Timing timing = parseTiming(texts[2], "", "", "");
        next->timeScale = timing.timeScale;
        next->timeStep = timing.timeStep;
        next->localTimeStep = timing.localTimeStep;
        next->width = width, next->height = height;
        next->depth = 8;
        next->threads = filterBandThreads();
        next->params = effectSettings();
        const std::string &drawing = texts[0];
        RenderDrawing loaded = drawing.empty() ? builtInDemoDrawing() : loadRenderDrawing(drawing);
        next->block = std::move(loaded.block);
        next->drawingName = drawing.empty() ? BUILT_IN_DEMO_NAME : drawing;
        session = std::make_unique<RenderSession>(*next);
        session->messageSink = printEffectMessage;
        job = std::move(next);
    }

    // The frame the host's time shows, less the offset: the nearest whole
    // number of time x fps.
    int32_t frameAt(double time) const {
        const double frame = std::nearbyint(time / unitsPerSecond * fps.num / fps.den) - frameOffset;
        if (!(frame >= -FRAME_NUMBER_LIMIT && frame <= FRAME_NUMBER_LIMIT))
            throw UsageError("time " + std::to_string(time) + " lies beyond frame " + std::to_string(FRAME_NUMBER_LIMIT));
        return int32_t(frame);
    }

    void update(double time, const uint32_t *in, uint32_t *out) {
        const size_t pixels = size_t(width) * size_t(height);
        try {
            if (sessionStale) {
                sessionStale = paramsStale = false;
                startSession();
            } else if (paramsStale && session) {
                paramsStale = false;
                job->params = effectSettings();
                session->setParams(job->params);
            }
        } catch (const std::exception &e) {
            session.reset();
            say(failureText(e));
        }
        if (!session) {
            // Nothing to paint with: the frame goes through as it came.
            if (in != out) std::memcpy(out, in, pixels * 4);
            return;
        }
        try {
            if (!layer) layer = std::make_unique<minihost::Image>(width, height, false);
            // frei0r's RGBA bytes to the host's ARGB pixels and back: the
            // same 8-bit values, moved.
            const auto *bytes = reinterpret_cast<const uint8_t *>(in);
            for (int32_t y = 0; y < height; ++y) {
                HostPixel8 *row = &layer->pixel8(0, y);
                for (int32_t x = 0; x < width; ++x, bytes += 4) row[x] = HostPixel8{bytes[3], bytes[0], bytes[1], bytes[2]};
            }
            const minihost::Image &painted = session->renderOver(frameAt(time), *layer);
            auto *target = reinterpret_cast<uint8_t *>(out);
            for (int32_t y = 0; y < height; ++y) {
                const HostPixel8 *row = &painted.pixel8(0, y);
                for (int32_t x = 0; x < width; ++x, target += 4) {
                    target[0] = row[x].red, target[1] = row[x].green, target[2] = row[x].blue;
                    target[3] = row[x].alpha;
                }
            }
            lastSaid.clear();
        } catch (const std::exception &e) {
            say(failureText(e));
            if (in != out) std::memcpy(out, in, pixels * 4);
        }
    }
};

}  // namespace

extern "C" {

int f0r_init() { return 1; }
void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t *info) {
    info->name = "pennaro";
    info->author = "Pennaro";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = PENNARO_FILTER_MAJOR;
    info->minor_version = PENNARO_FILTER_MINOR;
    info->num_params = int(slots().size());
    info->explanation = "Paints a Pennaro drawing over the frames, as pennaro render does";
}

void f0r_get_param_info(f0r_param_info_t *info, int index) {
    if (index < 0 || size_t(index) >= slots().size()) return;
    const Slot &slot = slots()[size_t(index)];
    info->name = slot.name.c_str();
    info->type = slot.type;
    info->explanation = slot.explanation.c_str();
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0 || width > 65536 || height > 65536) return nullptr;
    try {
        return new Instance(int32_t(width), int32_t(height));
    } catch (const std::exception &) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) {
    try {
        delete static_cast<Instance *>(instance);
    } catch (...) {
    }
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !param || index < 0 || size_t(index) >= slots().size()) return;
    const Slot &slot = slots()[size_t(index)];
    try {
        if (slot.type == F0R_PARAM_STRING) {
            const char *text = *static_cast<f0r_param_string *>(param);
            const std::string value = text ? text : "";
            if (value == self->texts[size_t(index)]) return;
            self->texts[size_t(index)] = value;
        } else {
            const double value = *static_cast<f0r_param_double *>(param);
            if (value == self->values[size_t(index)]) return;
            self->values[size_t(index)] = value;
        }
    } catch (const std::exception &) {
        return;
    }
    if (slot.role == Role::Effect) self->paramsStale = true;
    else self->sessionStale = true;
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !param || index < 0 || size_t(index) >= slots().size()) return;
    if (slots()[size_t(index)].type == F0R_PARAM_STRING)
        *static_cast<f0r_param_string *>(param) = const_cast<char *>(self->texts[size_t(index)].c_str());
    else
        *static_cast<f0r_param_double *>(param) = self->values[size_t(index)];
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t *inframe, uint32_t *outframe) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !inframe || !outframe) return;
    try {
        self->update(time, inframe, outframe);
    } catch (...) {
        // Never into the host.
    }
}

}  // extern "C"
