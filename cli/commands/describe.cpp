// pennaro describe: what the effect tells a host about itself.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "catalog/messages.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/plugin_location.h"
#include "cli/render/prefs_file.h"
#include "minihost/minihost.h"

namespace pennaro_cli {
namespace {

struct DescribeOptions {
    CommonOptions common;
    std::string prefs;
    bool json = false;
};

// Everything described, for --json: the same facts as the text, in fields.
using Json = nlohmann::ordered_json;

std::string fixedText(int32_t value, int precision) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", precision, value / 65536.0);
    return text;
}

std::vector<std::string> splitChoices(const char *list) {
    std::vector<std::string> choices;
    std::string current;
    for (const char *p = list ? list : ""; *p; ++p) {
        if (*p == '|') {
            choices.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    choices.push_back(current);
    return choices;
}

std::string indent(const std::string &text, const char *prefix) {
    std::string out = prefix;
    for (char c : text) {
        out += c;
        if (c == '\n') out += prefix;
    }
    return out;
}

const char *typeName(int32_t type) {
    switch (type) {
    case HOST_PARAM_TYPE_FIXED_SLIDER: return "slider";
    case HOST_PARAM_TYPE_CHECKBOX: return "checkbox";
    case HOST_PARAM_TYPE_POPUP: return "popup";
    case HOST_PARAM_TYPE_NO_DATA: return "no value";
    case HOST_PARAM_TYPE_GROUP_START: return "group start";
    case HOST_PARAM_TYPE_GROUP_END: return "group end";
    default: return "unknown type";
    }
}

std::string flagNames(uint32_t flags) {
    static const std::pair<uint32_t, const char *> names[] = {
        {HOST_OUT_FLAG_KEEP_RESOURCES_OPEN, "keep resources open"},
        {HOST_OUT_FLAG_NONLOCAL_TIME, "reads parameters at other times"},
        {HOST_OUT_FLAG_WIDE_TIME_INPUT, "output changes without parameter changes"},
        {HOST_OUT_FLAG_SEQUENCE_FLATTEN, "flattens its data for saving"},
        {HOST_OUT_FLAG_OPTIONS_DIALOG, "options dialog"},
        {HOST_OUT_FLAG_DISPLAY_ERROR, "shows a message"},
        {HOST_OUT_FLAG_CUSTOM_UI, "custom control area"},
        {HOST_OUT_FLAG_OBSOLETE, "obsolete"},
        {HOST_OUT_FLAG_DEEP_COLOR, "16 bits per channel"},
    };
    std::string text;
    for (auto &[bit, name] : names) {
        if (!(flags & bit)) continue;
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

Json parameterJson(int32_t index, const HostParam &p) {
    Json j = {{"index", index}, {"name", p.name}, {"id", p.id}, {"type", typeName(p.paramType)},
              {"starts_collapsed", (p.flags & HOST_PARAM_FLAG_START_COLLAPSED) != 0},
              {"reports_changes", (p.flags & HOST_PARAM_FLAG_SUPERVISE) != 0}};
    switch (p.paramType) {
    case HOST_PARAM_TYPE_NO_DATA:
        if (p.uiFlags & HOST_PARAM_UI_FLAG_CONTROL) j["control_area"] = {p.uiWidth, p.uiHeight};
        break;
    case HOST_PARAM_TYPE_POPUP: {
        j["default"] = p.u.popup.dephault;
        j["choices"] = splitChoices(p.u.popup.choices);  // "(-" is a separator
        break;
    }
    case HOST_PARAM_TYPE_CHECKBOX:
        j["label"] = p.u.checkbox.label ? p.u.checkbox.label : "";
        j["default"] = p.u.checkbox.dephault != 0;
        break;
    case HOST_PARAM_TYPE_FIXED_SLIDER: {
        const HostSliderDef &sl = p.u.slider;
        j["default"] = sl.dephault / 65536.0;
        j["valid"] = {sl.validMin / 65536.0, sl.validMax / 65536.0};
        j["slider"] = {sl.sliderMin / 65536.0, sl.sliderMax / 65536.0};
        j["precision"] = sl.precision;
        break;
    }
    default:
        break;
    }
    return j;
}

void printParameter(int32_t index, const HostParam &p) {
    std::printf("  %2d  %-31s id %-3d %s", index, p.name[0] ? p.name : "(no name)", p.id, typeName(p.paramType));
    if (p.flags & HOST_PARAM_FLAG_START_COLLAPSED) std::printf(", starts collapsed");
    if (p.flags & HOST_PARAM_FLAG_SUPERVISE) std::printf(", reports changes");
    std::printf("\n");
    switch (p.paramType) {
    case HOST_PARAM_TYPE_NO_DATA:
        if (p.uiFlags & HOST_PARAM_UI_FLAG_CONTROL)
            std::printf("      control area %d x %d drawn by the effect\n", p.uiWidth, p.uiHeight);
        break;
    case HOST_PARAM_TYPE_POPUP: {
        auto choices = splitChoices(p.u.popup.choices);
        int32_t d = p.u.popup.dephault;
        std::printf("      default %d \"%s\"; %d choices:\n", d,
                    d >= 1 && size_t(d) <= choices.size() ? choices[size_t(d - 1)].c_str() : "?",
                    p.u.popup.numChoices);
        for (size_t i = 0; i < choices.size(); ++i) {
            if (choices[i] == "(-")
                std::printf("        %2zu  (separator)\n", i + 1);
            else
                std::printf("        %2zu  %s\n", i + 1, choices[i].c_str());
        }
        break;
    }
    case HOST_PARAM_TYPE_CHECKBOX:
        std::printf("      label \"%s\", default %s\n", p.u.checkbox.label ? p.u.checkbox.label : "",
                    p.u.checkbox.dephault ? "on" : "off");
        break;
    case HOST_PARAM_TYPE_FIXED_SLIDER: {
        const HostSliderDef &s = p.u.slider;
        int prec = s.precision;
        std::printf("      default %s, valid %s to %s, slider %s to %s, %d digits after the point\n",
                    fixedText(s.dephault, prec).c_str(), fixedText(s.validMin, prec).c_str(),
                    fixedText(s.validMax, prec).c_str(), fixedText(s.sliderMin, prec).c_str(),
                    fixedText(s.sliderMax, prec).c_str(), prec);
        break;
    }
    default:
        break;
    }
}

// The shortest text that reads back as the same value. A value that is
// exactly a single-precision number (the effect keeps its preferences in
// those, so its defaults are) is shown as that number, 0.3501 rather than
// the 0.35009999573230743 it is as a double.
std::string realText(double v) {
    char text[32];
    const auto single = static_cast<float>(v);
    auto result = static_cast<double>(single) == v ? std::to_chars(text, text + sizeof text, single)
                                                   : std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

Json preferencesJson(const minihost::Host &host) {
    Json list = Json::array();
    for (const minihost::PrefAnswer &a : host.prefAnswers()) {
        Json j = {{"section", a.section}, {"key", a.key}, {"type", a.integer ? "integer" : "real"},
                  {"default", a.defaultValue}, {"stored", bool(a.stored)}};
        if (a.error) j["error"] = a.error;
        else j["value"] = a.value;
        list.push_back(j);
    }
    return list;
}

// What the host answered to the effect's preference reads: the store is
// the host's, the clamping the effect's.
void printPreferences(const minihost::Host &host, bool fromFile) {
    const auto &answers = host.prefAnswers();
    const std::string section = answers.empty() ? pennaro::PLUGIN_NAME : answers.front().section;
    std::printf("\nPreferences the effect read (section \"%s\"%s):\n", section.c_str(),
                fromFile ? "" : ", no preference file: the defaults");
    if (answers.empty()) std::printf("  none\n");
    for (const minihost::PrefAnswer &a : answers) {
        auto text = [&](double v) { return a.integer ? std::to_string(int64_t(v)) : realText(v); };
        std::string key = a.section == section ? a.key : "[" + a.section + "] " + a.key;
        std::string note = a.error    ? "refused with error " + std::to_string(a.error) + "; default " + text(a.defaultValue)
                           : a.stored ? "stored; default " + text(a.defaultValue)
                                      : "default";
        std::printf("  %-38s %-7s  %-8s (%s)\n", key.c_str(), a.integer ? "integer" : "real",
                    a.error ? "-" : text(a.value).c_str(), note.c_str());
    }
    std::printf("  These are the values the host answered; the effect clamps values out of range itself.\n");
}

int runDescribe(void *context) {
    auto &options = *static_cast<DescribeOptions *>(context);
    std::string path = resolvePluginPath(options.common.plugin).string();
    const bool text = !options.json;
    Json doc = {{"effect_library", path}};

    minihost::Host host;
    if (!options.prefs.empty()) loadPrefsFile(host.prefs, options.prefs);
    minihost::Plugin plugin(path);

    int32_t registered = plugin.registerEffect();
    if (registered) throw ToolError("the effect's registration failed with code " + std::to_string(registered));
    if (text) std::printf("Effect library: %s\n\nRegistration:\n", path.c_str());
    doc["registration"] = Json::array();
    for (const minihost::Registration &r : plugin.registrations()) {
        char kind[5] = {char(r.kind >> 24), char(r.kind >> 16), char(r.kind >> 8), char(r.kind), 0};
        doc["registration"].push_back({{"name_key", r.nameKey}, {"match_name", r.matchName},
                                       {"category_key", r.categoryKey}, {"entry_point", r.entryPointName},
                                       {"kind", kind}, {"interface", {r.apiVersionMajor, r.apiVersionMinor}},
                                       {"reserved_info", r.reservedInfo}});
        if (text)
            std::printf("  name key        %s\n  match name      %s\n  category key    %s\n"
                        "  entry point     %s\n  kind            0x%08" PRIX32 " (%s)\n"
                        "  interface       %d.%d\n  reserved info   %d\n",
                        r.nameKey.c_str(), r.matchName.c_str(), r.categoryKey.c_str(), r.entryPointName.c_str(),
                        r.kind, kind, r.apiVersionMajor, r.apiVersionMinor, r.reservedInfo);
    }

    int32_t err = host.send(plugin.entry(), HOST_CMD_GLOBAL_SETUP);
    if (err) throw ToolError("global set-up failed with code " + std::to_string(err) + ": " + host.out.message);
    // A message at set-up (a missing preference suite) does not stop the effect.
    std::string setUpMessage = host.out.message;
    uint32_t flags = host.out.outFlags, flags2 = host.out.outFlags2, version = host.out.version;

    try {
        doc["version"] = {{"packed", version},           {"major", version >> 19 & 0xF},
                          {"minor", version >> 15 & 0xF}, {"fix_level", version >> 11 & 0xF},
                          {"stage", version >> 9 & 0x3},  {"build", version & 0x1FF}};
        doc["output_flags"] = {{"packed", flags}, {"names", flagNames(flags)}};
        doc["output_flags_2"] = flags2;
        if (!setUpMessage.empty()) doc["set_up_message"] = minihost::displayText(setUpMessage);
        if (text) {
            std::printf("\nGlobal set-up:\n  version         0x%" PRIX32 " (%u.%u, fix level %u, stage %u, build %u)\n",
                        version, version >> 19 & 0xF, version >> 15 & 0xF, version >> 11 & 0xF, version >> 9 & 0x3,
                        version & 0x1FF);
            std::printf("  output flags    0x%" PRIX32 ": %s\n  output flags 2  0x%" PRIX32 "%s\n", flags,
                        flagNames(flags).c_str(), flags2, (flags2 & 1) ? ": answers the dynamic-flag query" : "");
            if (!setUpMessage.empty())
                std::printf("  message         %s\n", minihost::displayText(setUpMessage).c_str());
        }

        err = host.send(plugin.entry(), HOST_CMD_ABOUT);
        doc["about"] = minihost::displayText(host.out.message);
        if (text) std::printf("\nAbout:\n%s\n", indent(minihost::displayText(host.out.message), "  ").c_str());
        if (err) throw ToolError("the about command failed with code " + std::to_string(err));

        err = host.send(plugin.entry(), HOST_CMD_PARAMS_SETUP);
        if (err)
            throw ToolError("parameter set-up failed with code " + std::to_string(err) +
                            (host.out.message[0] ? std::string(": ") + host.out.message : std::string()));
        if (text) std::printf("\nParameters (%d, index 0 the input layer):\n", host.out.paramCount);
        const auto &defs = host.definitions();
        doc["parameters"] = Json::array();
        for (size_t i = 0; i < defs.size(); ++i) {
            doc["parameters"].push_back(parameterJson(static_cast<int32_t>(i + 1), defs[i]));
            if (text) printParameter(static_cast<int32_t>(i + 1), defs[i]);
        }
        if (host.customUIRegistered()) {
            doc["control_area_event_mask"] = host.customUI().eventMask;
            if (text) std::printf("  control area registered, event mask 0x%" PRIX32 "\n", host.customUI().eventMask);
        }
        doc["preferences"] = preferencesJson(host);
        if (text) printPreferences(host, !options.prefs.empty());
    } catch (...) {
        host.send(plugin.entry(), HOST_CMD_GLOBAL_SETDOWN);
        throw;
    }
    err = host.send(plugin.entry(), HOST_CMD_GLOBAL_SETDOWN);
    if (err) throw ToolError("global set-down failed with code " + std::to_string(err));
    if (options.json) std::printf("%s\n", doc.dump(2).c_str());
    return 0;
}

int describeMain(int argc, char **argv) {
    CLI::App app("Load the effect as a host would, then print its registration record, its about text, "
                 "the parameters it declares (names, types, defaults, ranges and choices) and the "
                 "preferences it read from the host, with the values the host answered.",
                 "describe");
    DescribeOptions options;
    app.add_option("--prefs", options.prefs,
                   "JSON file of preferences, keyed by their names, e.g. "
                   "{\"Onion skin - Opacity\": 0.35, \"Onion skin - Frames backward\": 4}; "
                   "unknown keys and values of the wrong type are errors");
    app.add_flag("--json", options.json, "Print the same as one JSON object, for scripts");
    addCommonOptions(app, options.common);
    return runGuarded(app, argc, argv, runDescribe, &options);
}

const CommandRegistrar describeRegistrar("describe", "show the effect's registration, parameters and preferences",
                                 describeMain);

}  // namespace
}  // namespace pennaro_cli
