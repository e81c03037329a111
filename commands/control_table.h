// The layouts of the main window and the About box as data: each control with its id, object name,
// kind, initial text, place in dialog units and what screen readers say of it. The order of a table
// is the keyboard focus order.
#pragma once

inline constexpr int IDC_NAME = 1001;
inline constexpr int IDC_ADDRESS = 1002;
inline constexpr int IDC_PORT = 1003;
inline constexpr int IDC_CONNECT = 1004;
inline constexpr int IDC_HOST = 1005;
inline constexpr int IDC_USERS = 1006;
inline constexpr int IDC_LOG = 1007;
inline constexpr int IDC_INPUT = 1008;
inline constexpr int IDC_STATIC = -1; // labels, which nothing addresses
// Windows headers define IDOK as a macro of the same value.
#ifndef IDOK
inline constexpr int IDOK = 1;
#endif
inline constexpr int IDM_ABOUT = 10000;

enum class ControlKind {
    Edit,    // single line, tab stop
    Label,   // static text, left-aligned
    Button,  // push button, tab stop
    Default, // the dialog's default push button
    Log,     // the read-only chat log: chat font, no tab stop
    List,    // the unsorted user list: chat font, no tab stop
};

struct Control {
    int id;
    const char* objectName; // empty for labels
    ControlKind kind;
    const char* text;
    int x, y, width, height; // dialog units
    // What screen readers and UI automation find the control by, and what they say it is for. A
    // label is named by its text.
    const char* accessibleName = "";
    const char* accessibleDescription = "";
    // A label's buddy: the id of the control it names, 0 for none. The buddy takes the focus for
    // the label's mnemonic, and assistive tools hear the two together.
    int buddy = 0;
};

struct DialogTemplate {
    const char* title;
    int width, height; // client area, dialog units
};

inline constexpr DialogTemplate MAIN_DIALOG = {"Parlox", 366, 183};

inline constexpr Control MAIN_CONTROLS[] = {
    {IDC_NAME, "IDC_NAME", ControlKind::Edit, "<name>", 35, 7, 58, 14, "Name",
     "Your name in the room"},
    {IDC_ADDRESS, "IDC_ADDRESS", ControlKind::Edit, "localhost", 115, 7, 86, 14, "IP",
     "The address of the room's host: a dotted IPv4 address or a host name"},
    {IDC_PORT, "IDC_PORT", ControlKind::Edit, "5000", 230, 7, 35, 14, "Port",
     "The port of the room to join or to host"},
    {IDC_STATIC, "", ControlKind::Label, "Name:", 7, 10, 22, 8, "", "", IDC_NAME},
    {IDC_STATIC, "", ControlKind::Label, "IP:", 99, 10, 10, 8, "", "", IDC_ADDRESS},
    {IDC_STATIC, "", ControlKind::Label, "Port:", 207, 10, 17, 8, "", "", IDC_PORT},
    {IDC_CONNECT, "IDC_CONNECT", ControlKind::Button, "Connect", 277, 7, 36, 14, "Connect",
     "Join the room at the IP address and port"},
    {IDC_HOST, "IDC_HOST", ControlKind::Button, "Host", 323, 7, 36, 14, "Host",
     "Open a room on this computer at the port"},
    {IDC_LOG, "IDC_LOG", ControlKind::Log, "", 7, 28, 267, 120, "Chat log",
     "What has been said in the room, the newest line last"},
    {IDC_INPUT, "IDC_INPUT", ControlKind::Edit, "", 7, 151, 267, 14, "Message",
     "Type a line and press Enter to say it to the room"},
    {IDC_USERS, "IDC_USERS", ControlKind::List, "", 277, 28, 82, 137, "Users",
     "The names of everybody in the room"},
};

// The text a control of the main window starts with (the fields' defaults); empty for an id the
// table does not hold.
constexpr const char* InitialText(int id) {
    for (const Control& control : MAIN_CONTROLS) {
        if (control.id == id)
            return control.text;
    }
    return "";
}

inline constexpr DialogTemplate ABOUT_DIALOG = {"Parlox v1.0", 151, 78};

inline constexpr Control ABOUT_CONTROLS[] = {
    {IDOK, "IDOK", ControlKind::Default, "OK", 94, 57, 50, 14, "OK", "Close this box"},
    {IDC_STATIC, "", ControlKind::Label, "Author:", 7, 7, 26, 8},
    {IDC_STATIC, "", ControlKind::Label, "EMail:", 7, 22, 20, 8},
    {IDC_STATIC, "", ControlKind::Label, "Website:", 7, 37, 30, 8},
    {IDC_STATIC, "", ControlKind::Label, "Parlox team", 49, 7, 53, 8},
    {IDC_STATIC, "", ControlKind::Label, "parlox@example.org", 49, 22, 84, 8},
    {IDC_STATIC, "", ControlKind::Label, "parlox.example.org", 49, 37, 68, 8},
};
