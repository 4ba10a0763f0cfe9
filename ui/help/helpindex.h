#pragma once

class HelpLocator;
class HelpViewer;
class Messages;

// The Help > Index command: opens the program's help page in the platform's
// viewer and returns at once. When no page is found, or no viewer opens it,
// a message says so and names where the program looked.
namespace HelpIndex {

void show(const HelpLocator &locator, HelpViewer *viewer, Messages *messages);

} // namespace HelpIndex
