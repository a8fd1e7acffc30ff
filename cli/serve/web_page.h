// The web page of `pennaro serve`, built into the tool from cli/web/ so that
// the page needs nothing from outside the project at run time.
#pragma once

#include <string>
#include <vector>

namespace pennaro_cli {

struct WebFile {
    std::string name;     // "index.html", "app.js"
    std::string type;     // its media type
    std::string content;
};

const std::vector<WebFile> &webFiles();

}  // namespace pennaro_cli
