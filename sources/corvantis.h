#pragma once

// Values built into the installer; nothing is read at run time.
namespace Corvantis {

constexpr char kApplicationName[] = "Corvantis Installer";
constexpr char kOrganizationName[] = "Halvery";
constexpr char kOrganizationDomain[] = "halvery.com";

// Title of every message box.
constexpr char kMessageTitle[] = "Corvantis Installer";
constexpr char kSupportEmail[] = "support@halvery.com";

constexpr char kUpdatePath[] = "/wp-json/v2/check-update";
// The identifier under which the product's package records its receipt.
constexpr char kPackageIdentifier[] = "com.halvery.pkg.Corvantis";
// Below a volume path that ends in "/".
constexpr char kProductExecutable[] =
    "Applications/Corvantis/Corvantis.app/Contents/MacOS/Corvantis";

constexpr char kLogLabel[] = "Online Installer";
constexpr char kLogFileName[] = "install_log.txt";

} // namespace Corvantis
