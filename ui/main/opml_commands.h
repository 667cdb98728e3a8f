#pragma once
// The main window's two OPML commands: import a feed reader's subscription list as sites and
// categories, and export the sites and categories for another reader.
#include <QString>

#include <functional>

class QWidget;

namespace hanabira {

class TForm1;

// The file dialogs of the two commands; each gives the chosen path, or an empty text when the user
// cancelled. Real dialogs unless a test replaced them.
struct OpmlFileDialogs {
    std::function<QString(QWidget* parent)> OpenFile;
    std::function<QString(QWidget* parent)> SaveFile;
};
OpmlFileDialogs& OpmlDialogs();

// Adds the sites and folders of an OPML file: sites already registered (by page or feed URL) or
// listed twice are skipped, folders become categories under the root, the data file is saved once
// at the end (never when it could not be read at start-up), and a message says what was added.
void ImportOpmlFile(TForm1* form);
// Writes every site and the category tree to an OPML 2.0 file.
void ExportOpmlFile(TForm1* form);

}  // namespace hanabira
