#include "app/mail/system_mail.h"

namespace varnok::mail {

std::vector<std::string> XdgEmailCommand(const std::string& archivePath) {
    size_t slash = archivePath.rfind('/');
    std::string name = slash == std::string::npos ? archivePath : archivePath.substr(slash + 1);
    return {kXdgEmail, "--attach", archivePath, "--subject", name};
}

std::string XdgEmailStatusText(int status) {
    switch (status) {
        case 0:
            return {};
        case 1:
            return "The system mail program refused the request (xdg-email: error in command line syntax).";
        case 2:
            return "The system mail program could not read the archive (xdg-email: a file does not exist).";
        case 3:
            return "No mail program is set up on this desktop (xdg-email: a required tool could not be found).";
        case 4:
            return "The system mail program failed (xdg-email: the action failed).";
        default:
            return "The system mail program failed (xdg-email ended with status " + std::to_string(status) + ").";
    }
}

std::string XdgEmailMissingText() {
    return "The archive cannot be handed to the system mail program: xdg-email is not installed (package "
           "xdg-utils). Install it, or choose \"Use internal mail client\" in the mail settings.";
}

}  // namespace varnok::mail
