// A user's preferences file, checked against the effect's preference keys
// and put into the host's store the way the compositing host would hold
// them: in the effect's section, each key with its type.
#pragma once

#include <string>

namespace minihost {
class PrefStore;
}

namespace pennaro_cli {

// {"Onion skin - Opacity": 0.35, "Onion skin - Frames backward": 4}, keyed
// by the preference key texts: integers for integer keys, any number for
// real keys. Anything else (unknown key, wrong type, an integer beyond 32
// bits, not an object, bad JSON) throws a ToolError naming `origin` and
// the key, and leaves the store as it was.
void loadPrefsText(minihost::PrefStore &store, const std::string &text, const std::string &origin);
void loadPrefsFile(minihost::PrefStore &store, const std::string &path);

}  // namespace pennaro_cli
