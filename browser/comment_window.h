#pragma once
// The comment window "簡易ブラウザ": the visit list, the comment editor and the own-site list on the
// left, the web view frame under its toolbar on the right. The user walks the visit list here and
// copies the filled comment to paste into the site's comment form.
#include <QMainWindow>

#include <functional>
#include <string>

#include "store/light_strings.h"

class QComboBox;
class QLabel;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeView;

namespace hanabira {

class TfrBrowserBase;
class TfrBrowserNavi;
class TMWIniFile;

class TForm3 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // The main window's tables: the site table (for the manager name), the visit list this
    // window's list shows, and the visit stamp (marks the site visited in both lists).
    void SetSiteTables(const TLightStrings* siteTable, TLightStrings* visitList,
                       std::function<void(const std::string& url)> markVisited);

    // Shows the window, restoring it first if it is minimised.
    void ShowBrowser();
    // Opens a page in the web view without waiting (Shift_JIS URL).
    void OpenURL(const std::string& url);
    // The visit list changed: the list shows as many rows as it now holds.
    void RefreshSiteList();
    // The settings this window keeps: the panel width, the list height, the comment and the
    // own-site list (registered before the settings file is read), and the chosen own site.
    void RegisterSettings(TMWIniFile& ini);
    // Fills the own-site choice and selects the stored one (after the settings file was read).
    void ReadSettings(const TMWIniFile& ini);
    void StoreSettings(TMWIniFile& ini) const;

    // Own-site choice: the text shown in the selector, and selecting the first entry equal to a
    // name with letter case ignored (none when absent).
    std::string MySiteText() const;
    void SelectMySite(const std::string& name);
    std::string CommentText() const;
    std::string OwnSiteText() const;

    TfrBrowserBase* Browser() const { return frBrowserBase1; }
    TfrBrowserNavi* Navi() const { return frBrowserNavi1; }

    // Handlers.
    QString lvSiteListData(int row, int column) const;
    void lvSiteListDblClick();
    void ToolButton4Click(int tag);
    void ToolButton1Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void edRegistMySiteChange();
    void cbMySiteChange();
    void Panel2Resize();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    QToolButton* MakeCopyButton(const char* name, const char* hint);

    TfrBrowserNavi* frBrowserNavi1;
    TfrBrowserBase* frBrowserBase1;
    QStatusBar* StatusBar1;
    QSplitter* Splitter1;
    QSplitter* Splitter2;
    QWidget* Panel1;
    QTreeView* lvSiteList;
    QToolBar* ToolBar1;
    QTabWidget* PageControl1;
    QWidget* Panel2;
    QComboBox* cbMySite;
    QLabel *lbURLCaption, *lbNameCaption, *lbURL, *lbName;
    QToolButton *SpeedButton1, *SpeedButton2, *SpeedButton3;
    QTextEdit* edComment;
    QTextEdit* edRegistMySite;

    const TLightStrings* siteTable_ = nullptr;
    TLightStrings* visitList_ = nullptr;
    std::function<void(const std::string&)> markVisited_;
    bool rebuildingSites_ = false;
};

}  // namespace hanabira
