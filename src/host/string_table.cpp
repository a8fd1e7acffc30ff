// The effect's localized texts. Every text the effect shows is addressed by
// its number; the key carries the number so table order and numbers cannot
// drift apart, and the default English text follows the "=".
#include "host/string_table.h"

namespace pennaro {

namespace {

#define MESSAGE(number, text) StringTableEntry{"$$$/OV/Pennaro/LStr/" number "=" text, 0, 0, 0}

const StringTableEntry ENTRIES[MESSAGE_COUNT + 1] = {
    MESSAGE("0000", "Pennaro, v%ld.%ld#{cr}Replays the painted strokes of a drawing over time, with wiggle and compositing onto the layer."),
    MESSAGE("0001", "Not enough memory."),
    MESSAGE("0002", "Drawing damaged, suggest restarting application."),
    MESSAGE("0003", "There was not enough memory to save. Zanthe will be lost."),
    MESSAGE("0004", "Drawing damaged, strokes will be lost."),
    MESSAGE("0005", "Drawing could not be opened. Could be out of memory. Do not save using same name!"),
    MESSAGE("0006", "Wiggling On"),
    MESSAGE("0007", "free string 2"),
    MESSAGE("0008", "Enable Wiggling"),
    MESSAGE("0009", "Individual Stroke Seeds"),
    MESSAGE("0010", "All Strokes|Past Strokes|Hold Strokes|Animate Strokes|Current Frame|Onion Skin"),
    MESSAGE("0011", "Only|In Original|(-|Over Original|Under Original|(-|Track Original Matte|Track Original Matte Visible|(-|As Matte|As Inverse Matte|(-|In Original Alpha Only|Under Original Alpha Only"),
    MESSAGE("0012", "Brush Settings (not available)"),
    MESSAGE("0013", "Playback Mode"),
    MESSAGE("0014", "Playback Speed"),
    MESSAGE("0015", "Wiggle Control"),
    MESSAGE("0016", ""),
    MESSAGE("0017", "Wiggles/sec"),
    MESSAGE("0018", "Displacement Variation"),
    MESSAGE("0019", "Displacement Detail"),
    MESSAGE("0020", "Pressure Variation"),
    MESSAGE("0021", "Pressure Detail"),
    MESSAGE("0022", ""),
    MESSAGE("0023", "Composite Paint"),
    MESSAGE("0024", "Failed to acquire suite."),
    MESSAGE("0025", "Failed to release suite."),
    MESSAGE("0026", "Not enough memory to open drawing."),
    MESSAGE("0027", "Platform incompatible data. Can not open drawing."),
    MESSAGE("0028", "Not enough memory to open drawing."),
    MESSAGE("0029", "Could not open drawing. Unknown format."),
    MESSAGE("0030", "Could not convert old drawing."),
    MESSAGE("0031", "Could not convert this paint version."),
    MESSAGE("0032", "Some settings could not be converted. They have been reset to default."),
    MESSAGE("0033", "Not enough memory to open drawing. Do NOT save this project!"),
    MESSAGE("0034", "Not enough memory to open paths. Do NOT save this project!."),
    MESSAGE("0035", "Drawing has been converted from an older version.#{cr}This can result in slight changes in appearance."),
    MESSAGE("0036", "Could not acquire World Transform Suite"),
    MESSAGE("0037", "Could not release World Transform Suite"),
    MESSAGE("0038", "Could not acquire Fill Matte Suite"),
    MESSAGE("0039", "Could not release Fill Matte Suite"),
    MESSAGE("0040", "Could not acquire World Suite"),
    MESSAGE("0041", "Could not release World Suite"),
    MESSAGE("0042", "Could not acquire helper suite 2"),
    MESSAGE("0043", "Could not release helper suite 2"),
    MESSAGE("0044", "Abnormal condition."),
    MESSAGE("0045", "Missing drawing."),
    MESSAGE("0046", "Painting"),
    MESSAGE("0047", "Selecting"),
    MESSAGE("0048", "Position:"),
    MESSAGE("0049", "No selection to delete!"),
    MESSAGE("0050", "At least two strokes must be selected."),
    MESSAGE("0051", "Could not acquire helper suite"),
    MESSAGE("0052", "Could not release helper suite"),
    MESSAGE("0053", "Could not acquire app suite"),
    MESSAGE("0054", "Could not release app suite"),
    MESSAGE("0055", "Pressure:"),
    MESSAGE("0056", "-E"),
    MESSAGE("0057", "Could not acquire param utils suite"),
    MESSAGE("0058", "Could not release param utils suite"),
    MESSAGE("0059", "Could not acquire advanced app suite"),
    MESSAGE("0060", "Could not release advanced app suite"),
    MESSAGE("0061", "Could not acquire time suite"),
    MESSAGE("0062", "Could not release time suite"),
    MESSAGE("0063", "Not enough memory for better preview. The better preview preference can be disabled from the options dialog."),
    MESSAGE("0064", "Draw brush sprite"),
    MESSAGE("0065", "Preview quality"),
    MESSAGE("0066", "Use high resolution stylus coordinates"),
    MESSAGE("0067", "Show toolbar in composition window"),
    MESSAGE("0068", "Onion skin - Frames backward"),
    MESSAGE("0069", "Onion skin - Frames forward"),
    MESSAGE("0070", "Onion skin - Opacity"),
    MESSAGE("0071", "Onion skin - Backward color - Red"),
    MESSAGE("0072", "Onion skin - Backward color - Green"),
    MESSAGE("0073", "Onion skin - Backward color - Blue"),
    MESSAGE("0074", "Onion skin - Forward color - Red"),
    MESSAGE("0075", "Onion skin - Forward color - Green"),
    MESSAGE("0076", "Onion skin - Forward color - Blue"),
    MESSAGE("0077", "Main Pref Section"),
    MESSAGE("0078", "Pref_USE_ITEM_CHECKER_BOARDS"),
    MESSAGE("0079", "Pennaro"),
    StringTableEntry{nullptr, -1, -1, 0},
};

#undef MESSAGE

const StringTableDescriptor DESCRIPTOR = {"KZMO_Pennaro", MESSAGE_COUNT + 1, ENTRIES, 0};

}  // namespace

const StringTableDescriptor *stringTableDescriptor() { return &DESCRIPTOR; }

}  // namespace pennaro
