/* The localized text table an effect hands to the host's string-table
 * service. The host reads it, so its layout is part of the protocol: four
 * pointer-sized fields for the descriptor and for every entry. */
#ifndef PENNARO_STRING_TABLE_H
#define PENNARO_STRING_TABLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The flags an effect opens its table with. */
#define STRING_TABLE_OPEN_FLAGS 4183

typedef struct StringTableEntry {
    const char *key; /* "<prefix><number, four digits>=<default text>"; null ends the table */
    intptr_t reserved1;
    intptr_t reserved2;
    intptr_t reserved3;
} StringTableEntry;

typedef struct StringTableDescriptor {
    const char *dictionary;
    intptr_t entryCount; /* the messages and the terminator */
    const StringTableEntry *entries;
    intptr_t reserved;
} StringTableDescriptor;

#ifdef __cplusplus
}
#endif
#endif
