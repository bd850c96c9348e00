// Stages the harvesting screen for the documentation's picture as the
// README's steps leave it before the import: lists a sample directory, moves
// every file into the selection (>>) and picks the language POR, then saves
// the main window as PNG and quits. Drives the screen only through its
// widgets' object names, as a user would.
#pragma once

#include <QString>

namespace trd::host {

class TfrmPrincipal;

// Starts the staging once the event loop runs; the application exits with
// status 0 when the picture was written, 1 otherwise.
void StageScreenshot(TfrmPrincipal& window, const QString& sampleDir, const QString& output);

}  // namespace trd::host
