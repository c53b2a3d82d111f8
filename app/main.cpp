#include "app/brindle_app.h"
#include "build_config.h"
#include "platform/linux/application.h"

#include <memory>
#include <string>

// The process entry: one application, kept alive until the process ends, then the main loop.
// Command-line arguments play no part.
int main(int argc, char** argv)
{
    return brindle::native::runApplication(argc, argv, [](brindle::Platform& platform) {
        return std::make_unique<brindle::BrindleApp>(platform,
            brindle::AppSettings { std::string(brindle::build::appHost), std::string(brindle::build::appPort),
                brindle::build::folderName });
    });
}
