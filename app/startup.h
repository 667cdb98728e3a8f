#pragma once
// The program's start-up sequence and the signals that close it like the user does.
#include <QString>

class QWidget;

namespace hanabira {

class TForm1;

// Runs the start-up sequence of the main window.
void RunStartupSequence(TForm1& form);

// SIGTERM and SIGINT close the window through its normal close (so the data file is saved).
void CloseOnTerminationSignals(QWidget* window);

}  // namespace hanabira
