#include "app/app_delegate.h"
#include "build_config.h"
#include "platform/linux/application.h"

#include <memory>
#include <string>

// The process entry: one controller, kept alive until the process ends, as the application's
// delegate; then the main loop. Command-line arguments play no part.
int main(int argc, char** argv)
{
    return brindle::native::runApplication(argc, argv, [](brindle::Platform& platform) {
        return std::make_unique<brindle::AppDelegate>(platform, std::string(brindle::build::appHost),
            std::string(brindle::build::appPort));
    });
}
