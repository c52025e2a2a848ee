// quillmere-content: makes the show's default content (tracks, brushes, paper, videos, music)
// from one seed.
#include <iostream>
#include <string>
#include <vector>

#include "content/content_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return content::runContentTool(args, std::cout, std::cerr);
}
