// The localized text table handed to the host's string-table service. The
// host reads it, so its layout is part of the protocol: four pointer-sized
// fields for the descriptor and for every entry.
#pragma once

#include <cstdint>

namespace pennaro {

inline constexpr int32_t MESSAGE_COUNT = 80;
inline constexpr int32_t STRING_TABLE_OPEN_FLAGS = 4183;

struct StringTableEntry {
    const char *key;  // "$$$/OV/Pennaro/LStr/NNNN=default text"; null ends the table
    intptr_t reserved1;
    intptr_t reserved2;
    intptr_t reserved3;
};

struct StringTableDescriptor {
    const char *dictionary;  // "KZMO_Pennaro"
    intptr_t entryCount;     // the messages and the terminator
    const StringTableEntry *entries;
    intptr_t reserved;
};

// The plug-in's one table (static data, laid down once).
const StringTableDescriptor *stringTableDescriptor();

}  // namespace pennaro
