// help.h: the help page of every plug-in page.
#ifndef KEL2CIFS_PLUGIN_HELP_H
#define KEL2CIFS_PLUGIN_HELP_H

namespace kel2cifs {

// Help topics and the pages that show them.
enum HelpTopic : int {
    kHelpConnections = 18,     // "/cifscons/help"
    kHelpConnectionInfo = 19,  // "/cifscons/help/_info_"
    kHelpShowLogs = 36,        // "/cifslogs/help"
    kHelpOpenFiles = 41,       // "/cifsofm/help"
    kHelpOpenFileInfo = 42,    // "/cifsofm/help/help"
};

}  // namespace kel2cifs

// Writes the help page of topic under title (localised by the caller). Returns 200, or 500 when
// the response was not opened. An unknown topic shows a "not available" heading.
int generate_cifs_help_page(void *request, int topic, const char *title);

#endif  // KEL2CIFS_PLUGIN_HELP_H
