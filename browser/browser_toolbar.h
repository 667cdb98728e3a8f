#pragma once
// The browser toolbar above the web view frame: history, reload, stop, home and the address box,
// and the commenter's tools around a page (URL, source and selection copies, link tags, the page
// link list, jumps to a URL from the clipboard or the selection, index and backlink checks) and
// the skip command that gives up waiting for a slow page.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <string_view>

class QAction;
class QLineEdit;
class QMenu;
class QToolBar;

namespace hanabira {

class TfrBrowserBase;

class TfrBrowserNavi : public QWidget {
    Q_OBJECT
public:
    explicit TfrBrowserNavi(QWidget* parent = nullptr);

    // Binds the toolbar to the frame, whose state its buttons follow from then on.
    void AttachBrowser(TfrBrowserBase* frame);
    void tbToolBarResize();
    // The address box's text (Shift_JIS).
    void SetAddressText(const std::string& url);
    std::string AddressText() const;

    // The link-tag template (Shift_JIS); the default after AttachBrowser, kept until the program ends.
    std::string LinkStr;
    const std::string& TextKeyword() const { return FTextKeyword; }
    const std::string& URLKeyword() const { return FURLKeyword; }

    // The modifier keys held down now; tests replace it.
    std::function<Qt::KeyboardModifiers()> KeyboardModifiers;

    // Commands.
    void tbGoBackClick();
    void tbGoForwardClick();
    void tbRetryClick();
    void tbStopClick();
    void tbHomeClick();
    void tbGoURLClick();
    void URLC1Click();
    void URLS1Click();
    void HTML1Click();
    void tbGetHTMLSourceClick();
    void ToolButton5Click();
    void tbGetURLClick();
    void ToolButton3Click();
    void T1Click();
    void N1Click();
    void I1Click(int tag);
    void BingB1Click(int tag);
    void acSkipLoopExecute();

    // The actions behind the buttons and menu items, by their names.
    QAction* Action(const char* name) const;
    QLineEdit* AddressBox() const { return edURL; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Back and forward as the history allows; skip exactly while a page loads.
    void UpdateNaviButtons();
    QAction* MakeAction(const char* name, const char* hint, int image);
    // Link tag to the page with the text of the selection (or the title); with askText the user
    // may edit that text first. False when the user cancelled.
    bool CopyLinkTag(bool askText);
    void SetClipboard(const std::string& sjis);
    std::string ClipboardText() const;
    // A jump to a URL that came from the page's reach (clipboard, selection): script URLs refused.
    bool RefuseScriptUrl(const std::string& url);

    QPointer<TfrBrowserBase> FBrowser;
    std::string FTextKeyword, FURLKeyword;
    QToolBar* tbToolBar;
    QLineEdit* edURL;
    QMenu *pmGoURL, *pmLinks;
    QAction *acSkipLoop = nullptr;
};


}  // namespace hanabira
