// Every text the effect shows or hands to the host, addressed by number. The
// host looks texts up by these numbers in the table the effect gives it, so
// the numbers and the table order are fixed for good; the key carries the
// number so the two cannot drift apart, and the default English text follows
// the "=". Only the numbers something in the effect uses are named.
#pragma once

#include <cstdint>
#include <string_view>

namespace pennaro {

inline constexpr int32_t MESSAGE_COUNT = 80;

// The plug-in's name: the suffix of failure reports and the section of its
// preferences.
inline constexpr const char *PLUGIN_NAME = "Pennaro";
inline constexpr const char *STRING_TABLE_DICTIONARY = "KZMO_Pennaro";

enum Message : int32_t {
    MSG_ABOUT = 0,
    MSG_NOT_ENOUGH_MEMORY = 1,
    MSG_DRAWING_DAMAGED_RESTART = 2,
    MSG_NO_MEMORY_TO_SAVE = 3,
    MSG_DRAWING_DAMAGED_STROKES_LOST = 4,
    MSG_WIGGLE_LABEL = 8,
    MSG_SEEDS_LABEL = 9,
    MSG_PLAYBACK_CHOICES = 10,
    MSG_COMPOSITE_CHOICES = 11,
    MSG_BRUSH_SETTINGS_NAME = 12,
    MSG_PLAYBACK_MODE_NAME = 13,
    MSG_PLAYBACK_SPEED_NAME = 14,
    MSG_WIGGLE_GROUP_NAME = 15,
    MSG_WIGGLE_ENABLE_NAME = 16,
    MSG_WIGGLES_PER_SEC_NAME = 17,
    MSG_DISPLACEMENT_VARIATION_NAME = 18,
    MSG_DISPLACEMENT_DETAIL_NAME = 19,
    MSG_PRESSURE_VARIATION_NAME = 20,
    MSG_PRESSURE_DETAIL_NAME = 21,
    MSG_SEEDS_NAME = 22,
    MSG_COMPOSITE_NAME = 23,
    MSG_ACQUIRE_SUITE_FAILED = 24,
    MSG_RELEASE_SUITE_FAILED = 25,
    MSG_NO_MEMORY_TO_OPEN = 26,
    MSG_NO_MEMORY_TO_OPEN_SWAPPED = 28,
    MSG_UNKNOWN_FORMAT = 29,
    MSG_CANNOT_CONVERT_OLD = 30,
    MSG_NO_MEMORY_DO_NOT_SAVE = 33,
    MSG_DRAWING_CONVERTED = 35,
    MSG_ACQUIRE_WORLD_TRANSFORM = 36,
    MSG_RELEASE_WORLD_TRANSFORM = 37,
    MSG_ACQUIRE_FILL_MATTE = 38,
    MSG_RELEASE_FILL_MATTE = 39,
    MSG_ACQUIRE_WORLD = 40,
    MSG_RELEASE_WORLD = 41,
    MSG_ACQUIRE_PARAM_UTILS = 57,
    MSG_RELEASE_PARAM_UTILS = 58,
    MSG_PREF_DRAW_BRUSH_SPRITE = 64,
    MSG_PREF_PREVIEW_QUALITY = 65,
    MSG_PREF_HIGH_RES_STYLUS = 66,
    MSG_PREF_SHOW_TOOLBAR = 67,
    MSG_PREF_ONION_FRAMES_BACKWARD = 68,
    MSG_PREF_ONION_FRAMES_FORWARD = 69,
    MSG_PREF_ONION_OPACITY = 70,
    MSG_PREF_BACKWARD_RED = 71,
    MSG_PREF_BACKWARD_GREEN = 72,
    MSG_PREF_BACKWARD_BLUE = 73,
    MSG_PREF_FORWARD_RED = 74,
    MSG_PREF_FORWARD_GREEN = 75,
    MSG_PREF_FORWARD_BLUE = 76,
};

#define MESSAGE_KEY(number, text) "$$$/OV/Pennaro/LStr/" number "=" text

inline constexpr const char *MESSAGE_KEYS[MESSAGE_COUNT] = {
    MESSAGE_KEY("0000", "Pennaro, v%ld.%ld#{cr}Replays the painted strokes of a drawing over time, with wiggle and compositing onto the layer."),
    MESSAGE_KEY("0001", "Not enough memory."),
    MESSAGE_KEY("0002", "Drawing damaged, suggest restarting application."),
    MESSAGE_KEY("0003", "There was not enough memory to save. Zanthe will be lost."),
    MESSAGE_KEY("0004", "Drawing damaged, strokes will be lost."),
    MESSAGE_KEY("0005", "Drawing could not be opened. Could be out of memory. Do not save using same name!"),
    MESSAGE_KEY("0006", "Wiggling On"),
    MESSAGE_KEY("0007", "free string 2"),
    MESSAGE_KEY("0008", "Enable Wiggling"),
    MESSAGE_KEY("0009", "Individual Stroke Seeds"),
    MESSAGE_KEY("0010", "All Strokes|Past Strokes|Hold Strokes|Animate Strokes|Current Frame|Onion Skin"),
    MESSAGE_KEY("0011", "Only|In Original|(-|Over Original|Under Original|(-|Track Original Matte|Track Original Matte Visible|(-|As Matte|As Inverse Matte|(-|In Original Alpha Only|Under Original Alpha Only"),
    MESSAGE_KEY("0012", "Brush Settings (not available)"),
    MESSAGE_KEY("0013", "Playback Mode"),
    MESSAGE_KEY("0014", "Playback Speed"),
    MESSAGE_KEY("0015", "Wiggle Control"),
    MESSAGE_KEY("0016", ""),
    MESSAGE_KEY("0017", "Wiggles/sec"),
    MESSAGE_KEY("0018", "Displacement Variation"),
    MESSAGE_KEY("0019", "Displacement Detail"),
    MESSAGE_KEY("0020", "Pressure Variation"),
    MESSAGE_KEY("0021", "Pressure Detail"),
    MESSAGE_KEY("0022", ""),
    MESSAGE_KEY("0023", "Composite Paint"),
    MESSAGE_KEY("0024", "Failed to acquire suite."),
    MESSAGE_KEY("0025", "Failed to release suite."),
    MESSAGE_KEY("0026", "Not enough memory to open drawing."),
    MESSAGE_KEY("0027", "Platform incompatible data. Can not open drawing."),
    MESSAGE_KEY("0028", "Not enough memory to open drawing."),
    MESSAGE_KEY("0029", "Could not open drawing. Unknown format."),
    MESSAGE_KEY("0030", "Could not convert old drawing."),
    MESSAGE_KEY("0031", "Could not convert this paint version."),
    MESSAGE_KEY("0032", "Some settings could not be converted. They have been reset to default."),
    MESSAGE_KEY("0033", "Not enough memory to open drawing. Do NOT save this project!"),
    MESSAGE_KEY("0034", "Not enough memory to open paths. Do NOT save this project!."),
    MESSAGE_KEY("0035", "Drawing has been converted from an older version.#{cr}This can result in slight changes in appearance."),
    MESSAGE_KEY("0036", "Could not acquire World Transform Suite"),
    MESSAGE_KEY("0037", "Could not release World Transform Suite"),
    MESSAGE_KEY("0038", "Could not acquire Fill Matte Suite"),
    MESSAGE_KEY("0039", "Could not release Fill Matte Suite"),
    MESSAGE_KEY("0040", "Could not acquire World Suite"),
    MESSAGE_KEY("0041", "Could not release World Suite"),
    MESSAGE_KEY("0042", "Could not acquire helper suite 2"),
    MESSAGE_KEY("0043", "Could not release helper suite 2"),
    MESSAGE_KEY("0044", "Abnormal condition."),
    MESSAGE_KEY("0045", "Missing drawing."),
    MESSAGE_KEY("0046", "Painting"),
    MESSAGE_KEY("0047", "Selecting"),
    MESSAGE_KEY("0048", "Position:"),
    MESSAGE_KEY("0049", "No selection to delete!"),
    MESSAGE_KEY("0050", "At least two strokes must be selected."),
    MESSAGE_KEY("0051", "Could not acquire helper suite"),
    MESSAGE_KEY("0052", "Could not release helper suite"),
    MESSAGE_KEY("0053", "Could not acquire app suite"),
    MESSAGE_KEY("0054", "Could not release app suite"),
    MESSAGE_KEY("0055", "Pressure:"),
    MESSAGE_KEY("0056", "-E"),
    MESSAGE_KEY("0057", "Could not acquire param utils suite"),
    MESSAGE_KEY("0058", "Could not release param utils suite"),
    MESSAGE_KEY("0059", "Could not acquire advanced app suite"),
    MESSAGE_KEY("0060", "Could not release advanced app suite"),
    MESSAGE_KEY("0061", "Could not acquire time suite"),
    MESSAGE_KEY("0062", "Could not release time suite"),
    MESSAGE_KEY("0063", "Not enough memory for better preview. The better preview preference can be disabled from the options dialog."),
    MESSAGE_KEY("0064", "Draw brush sprite"),
    MESSAGE_KEY("0065", "Preview quality"),
    MESSAGE_KEY("0066", "Use high resolution stylus coordinates"),
    MESSAGE_KEY("0067", "Show toolbar in composition window"),
    MESSAGE_KEY("0068", "Onion skin - Frames backward"),
    MESSAGE_KEY("0069", "Onion skin - Frames forward"),
    MESSAGE_KEY("0070", "Onion skin - Opacity"),
    MESSAGE_KEY("0071", "Onion skin - Backward color - Red"),
    MESSAGE_KEY("0072", "Onion skin - Backward color - Green"),
    MESSAGE_KEY("0073", "Onion skin - Backward color - Blue"),
    MESSAGE_KEY("0074", "Onion skin - Forward color - Red"),
    MESSAGE_KEY("0075", "Onion skin - Forward color - Green"),
    MESSAGE_KEY("0076", "Onion skin - Forward color - Blue"),
    MESSAGE_KEY("0077", "Main Pref Section"),
    MESSAGE_KEY("0078", "Pref_USE_ITEM_CHECKER_BOARDS"),
    MESSAGE_KEY("0079", "Pennaro"),
};

#undef MESSAGE_KEY

// The default text of a message: its key after the "=".
constexpr std::string_view messageText(int32_t number) {
    const std::string_view key = MESSAGE_KEYS[number];
    return key.substr(key.find('=') + 1);
}

}  // namespace pennaro
