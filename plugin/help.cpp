#include "plugin/help.h"

#include <cstdio>

#include "kel/host.h"
#include "kel2cifs/text_marker.h"
#include "plugin/pages.h"

using namespace kel2cifs;

namespace {

// One writer per line shape of the help texts; each localises every text it writes.

// "<p>text</p>", without and with a line feed.
void Paragraph(void *request, const char *text) {
    HttpSendDataSprintf(request, "<p>%s</p>", lnxMSG(text));
}
void ParagraphLine(void *request, const char *text) {
    HttpSendDataSprintf(request, "<p>%s</p>\n", lnxMSG(text));
}

// A label in bold and its text, as one definition: followed by "<br> ", by "<br>", or by nothing.
void DefinitionSpaced(void *request, const char *label, const char *text) {
    HttpSendDataSprintf(request, "<dd><b>%s</b>%s</dd><br> \n", lnxMSG(label), lnxMSG(text));
}
void DefinitionBreak(void *request, const char *label, const char *text) {
    HttpSendDataSprintf(request, "<dd><b>%s</b>%s</dd><br>\n", lnxMSG(label), lnxMSG(text));
}
void DefinitionLine(void *request, const char *label, const char *text) {
    HttpSendDataSprintf(request, "<dd><b>%s</b>%s</dd>\n", lnxMSG(label), lnxMSG(text));
}

// A sentence naming a button in italics, without and with a line feed.
void Instruction(void *request, const char *before, const char *button, const char *after) {
    HttpSendDataSprintf(request, "<p>%s<i>%s</i>%s</p>", lnxMSG(before), lnxMSG(button),
                        lnxMSG(after));
}
void InstructionLine(void *request, const char *before, const char *button, const char *after) {
    HttpSendDataSprintf(request, "<p>%s<i>%s</i>%s</p>\n", lnxMSG(before), lnxMSG(button),
                        lnxMSG(after));
}

// An indented line, without and with a break after it.
void Indented(void *request, const char *text) {
    HttpSendDataSprintf(request, "<dd>%s</dd>\n", lnxMSG(text));
}
void IndentedBreak(void *request, const char *text) {
    HttpSendDataSprintf(request, "<dd>%s</dd><br>\n", lnxMSG(text));
}

void WriteConnectionsHelp(void *request) {
    Paragraph(request,
              "The CIFS Connections page displays the following information about each current "
              "connection:");
    DefinitionSpaced(request, "Connection: ", "Shows the connection number for each connection.");
    DefinitionBreak(request, "Name: ",
                    "Shows the name of the user and links to specific information about that user "
                    "connection such as the connection number, login status, login time, "
                    "privileges, network address, files in use, and security equivalence.");
    DefinitionBreak(request, "Reads & Writes: ",
                    "Shows the number of reads and writes (in bytes) made by each connection.");
    DefinitionBreak(
        request, "CIFS Requests: ", "Shows the number of CIFS requests made by each connection.");
    DefinitionBreak(request,
                    "Login Time: ", "Shows the login day, date, and time for the connection.");
    DefinitionBreak(request, "Connection Type: ",
                    "Shows that the connection is for an Active Directory or Ravelin user.");
    Instruction(request, "Click ", "Refresh ", "to view the latest statistics of the connections.");
    HttpSendDataSprintf(request, "<h4>%s</h4>\n", lnxMSG("View connection information"));
    Indented(request,
             "Click the name of the user to view detailed information for a specific connection.");
}

void WriteConnectionInfoHelp(void *request) {
    ParagraphLine(request,
                  "Use this page to view details of a specific CIFS connection. The details "
                  "include:");
    DefinitionBreak(request, "Connection: ", "Shows the connection ID.");
    DefinitionBreak(request, "Login Status: ",
                    "Shows various connection states, such as Logged-In, Logging-In, Not-Logged "
                    "In, and New.");
    DefinitionBreak(request, "Login Time ",
                    "Shows the login day, date, and time for the connection.");
    DefinitionBreak(request, "Privileges: ",
                    "Shows whether the connection has privileges, such as Supervisor or "
                    "Non-Supervisor.");
    DefinitionBreak(request, "Connection Type: ",
                    "Shows that the connection is for an Active Directory or Ravelin user.");
    DefinitionBreak(request,
                    "Network Address: ", "Shows the IP address where the connection originates");
    DefinitionBreak(
        request, "Security Equivalence: ", "Shows Security Equivalence Vector of the connection.");
    DefinitionBreak(request, "Open Files: ", "Shows the files open for the connection.");
    InstructionLine(request, "1. Click  ", "Back to Connections ",
                    "to go to CIFS Connections page.");
    Indented(request, "(or)");
    InstructionLine(request, "Click  ", "Back to Open File Management ",
                    "to go to CIFS Open File Management page.");
    InstructionLine(request, "2. Click  ", "Close All Files ",
                    "to close all files opened by the current connection. Closing files does not "
                    "close the connection; rather, the connection remains open.");
    InstructionLine(request, "3. Click  ", "Close File ",
                    "to close a specific file.The file is closed for all connections that have "
                    "opened the file.");
}

void WriteShowLogsHelp(void *request) {
    ParagraphLine(request,
                  "Use this page to view messages logged by the CIFS server and CIFS KEL Plug-in.");
    HttpSendDataSprintf(request, "<dd><b>%s libkel2cifs.log: </b>%s</dd>\n", lnxMSG("1."),
                        lnxMSG("This log file is associated with CIFS KEL Plug-in logs."));
    HttpSendDataSprintf(request, "<dd><b>%s cifs.log: </b>%s</dd><br>\n", lnxMSG("2."),
                        lnxMSG("This file is associated with CIFS server logs."));
}

void WriteOpenFilesHelp(void *request) {
    Paragraph(request,
              "Use this page to view open file information for the selected volume. You can also "
              "filter files by the extension.");
    DefinitionSpaced(request, "CIFS Volume: ",
                     "Lists the mounted CIFS volumes. To view all open files on a specific volume, "
                     "select the volume from the CIFS Volume drop-down list box.");
    DefinitionBreak(request, "Filter: ",
                    "Text box to specify your filter criteria. To filter for a specifc file type "
                    "on the selected volume, type the extension of the file, for example, *.doc, "
                    "then click Apply or press the ENTER key on your keyboard.");
    IndentedBreak(request,
                  "All open files that match the filter criteria is displayed and the Filter field "
                  "is cleared automatically.");
    DefinitionBreak(request, "NOTE: ",
                    "You can only filter by file extension and the format must be "
                    "*.file_extension. You cannot use regular expressions to filter files.");
    DefinitionBreak(request, "Connection: ", "Shows the connection numbers.");
    DefinitionBreak(request, "User name: ", "Shows the name of the logged in users.");
    DefinitionLine(request, "File Path: ", "Shows the path of open files.");
    InstructionLine(request, "Click ", "Refresh ",
                    "to view the latest list of open files for the selected volume and the filter "
                    "criteria set ");
    HttpSendDataSprintf(request, "<h4>%s</h4>", lnxMSG("Close Files"));
    HttpSendDataSprintf(request, "<p>%s<i>%s</i></p>\n",
                        lnxMSG("Select the files you want to close, then click "),
                        lnxMSG("Close Files."));
    Indented(request,
             "Note: The files are closed on the server,so the file will not be available for any "
             "file operations for all users who have opened the file. User(s) might lose unsaved "
             "data when a file is closed.");
    HttpSendDataSprintf(request, "<h4>%s</h4>", lnxMSG("View connection information"));
    ParagraphLine(request,
                  "Click the name of the user to view detailed information for a specific "
                  "connection. ");
}

void WriteOpenFileInfoHelp(void *request) {
    static constexpr const char *kParagraphs[] = {
        TextToTranslate("Shows information about and lets you perform specific tasks on a file."),
        TextToTranslate("File Information:"),
        TextToTranslate("Shows the file owner, creation date and time, effective rights, Inherited "
                        "Rights Filter, "
                        "and logical file size information. Clicking the Inherited Rights Filter "
                        "link opens a page "
                        "that lets you change the inherited rights for the file."),
        TextToTranslate("Trustee Information:"),
        TextToTranslate("Shows any trustees that have been assigned specifically to the file and "
                        "lets you assign "
                        "new trustees."),
        TextToTranslate("Global Lock Information:"),
        TextToTranslate("Shows the current lock state for the file."),
        TextToTranslate("File Lock Information by Connection:"),
        TextToTranslate("Shows which connections have the file open and what mode they are using."),
        TextToTranslate("Record Lock Information"),
        TextToTranslate(
            "Shows any record locks that are currently in use on the file as well as who owns the "
            "lock and what part of the file is locked."),
        TextToTranslate("Close button:"),
        TextToTranslate("Closed the file."),
    };
    HttpSendDataSprintf(request, "<h3>%s</h3>\n", lnxMSG("Open File Information"));
    for (const char *text : kParagraphs) {
        ParagraphLine(request, text);
    }
}

}  // namespace

int generate_cifs_help_page(void *request, int topic, const char *title) {
    if (!OpenPage(request)) {
        return 500;
    }
    // The title comes localised from the help entry.
    WriteFrame(request, {.title = title});

    switch (topic) {
        case kHelpConnections:
            WriteConnectionsHelp(request);
            break;
        case kHelpConnectionInfo:
            WriteConnectionInfoHelp(request);
            break;
        case kHelpShowLogs:
            WriteShowLogsHelp(request);
            break;
        case kHelpOpenFiles:
            WriteOpenFilesHelp(request);
            break;
        case kHelpOpenFileInfo:
            WriteOpenFileInfoHelp(request);
            break;
        default:
            HttpSendDataSprintf(
                request, "<h3>%s</h3>\n",
                lnxMSG("CIFS Open File Manager Help information is not available."));
            break;
    }
    return ClosePage(request);
}
