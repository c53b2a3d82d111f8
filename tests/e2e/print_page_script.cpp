// Prints the page script exactly as this build of Brindle adds it to the planner's documents,
// so that an end-to-end test can run it in WebKit on pages the real binary never shows.

#include "bridge/page_script.h"
#include "build_config.h"

#include <iostream>

int main()
{
    std::cout << brindle::pageScript(brindle::build::appHost);
    return std::cout.good() ? 0 : 1;
}
