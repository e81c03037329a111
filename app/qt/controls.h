// Building the widgets of a control table.
#pragma once

#include "commands/control_table.h"

#include <span>
#include <vector>

class QWidget;

// Creates one widget per control as a child of client, in table order, with its object name, text
// and place (mapped through the dialog units of the dialog font), and chains the tab stops in table
// order, with the accessible texts and the labels' buddies of the table. The log and the list get
// the chat font; everything else shows in the dialog font, which the caller sets on client.
// Returns the widgets in table order.
std::vector<QWidget*> CreateControls(std::span<const Control> controls, QWidget* client);
