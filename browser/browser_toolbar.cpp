#include "browser/browser_toolbar.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include "browser/browser_module.h"
#include "browser/page_tools.h"
#include "browser/web_view_frame.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "support/sjis_text.h"
#include "support/window_utility.h"

namespace hanabira {

TfrBrowserNavi::TfrBrowserNavi(QWidget* parent) : QWidget(parent) {
    setObjectName("frBrowserNavi1");
    KeyboardModifiers = [] { return QGuiApplication::queryKeyboardModifiers(); };

    tbToolBar = new QToolBar(this);
    tbToolBar->setObjectName("tbToolBar");
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tbToolBar);

    QAction* goBack = MakeAction("tbGoBack", "戻る", 0);
    QAction* goForward = MakeAction("tbGoForward", "進む", 1);
    QAction* retry = MakeAction("tbRetry", "更新", 5);
    QAction* stop = MakeAction("tbStop", "中止", 2);
    QAction* home = MakeAction("tbHome", "HOME", 3);
    goBack->setEnabled(false);
    goForward->setEnabled(false);
    edURL = new QLineEdit;
    edURL->setObjectName("edURL");
    edURL->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edURL->setMinimumWidth(80);
    QAction* goURL = MakeAction("tbGoURL", "URLに飛ぶ", 4);
    QAction* source = MakeAction("tbGetHTMLSource", "HTMLソースの取得", 6);
    QAction* selection = MakeAction("ToolButton5", "選択部分をクリップボードにコピー", 12);
    QAction* getURL = MakeAction("tbGetURL", "URLの取得", 7);
    QAction* linkTag = MakeAction("ToolButton3", "URLよりリンクタグを作成する", 10);
    acSkipLoop = MakeAction("acSkipLoop", "ページの読み込み待ちをやめる", 8);
    acSkipLoop->setEnabled(false);

    pmGoURL = new QMenu(this);
    pmGoURL->setObjectName("pmGoURL");
    auto menuItem = [this](QMenu* menu, const char* name, const char* caption, int tag) {
        auto* a = menu->addAction(Tr(caption));
        a->setObjectName(name);
        a->setData(tag);
        return a;
    };
    QAction* urlC1 = menuItem(pmGoURL, "URLC1", "クリップボードからURLに飛ぶ(&C)", 0);
    QAction* urlS1 = menuItem(pmGoURL, "URLS1", "選択部分のURLに飛ぶ(&S)", 0);
    pmGoURL->addSeparator();
    QAction* html1 = menuItem(pmGoURL, "HTML1", "クリップボードの内容をHTMLとして表示する(&H)", 0);
    pmGoURL->addSeparator();
    QList<QAction*> searches;
    searches << menuItem(pmGoURL, "YahooY1", "インデックスチェック-Yahoo(&Y)", 0)
             << menuItem(pmGoURL, "GoogleG1", "インデックスチェック-Google(&G)", 1)
             << menuItem(pmGoURL, "BingB1", "インデックスチェック-Bing(&B)", 2);
    pmGoURL->addSeparator();
    searches << menuItem(pmGoURL, "YahooY2", "被リンクチェック-Yahoo(&A)", 3)
             << menuItem(pmGoURL, "GoogleG2", "被リンクチェック-Google(&O)", 4)
             << menuItem(pmGoURL, "BingB2", "被リンクチェック-Bing(&I)", 5);
    goURL->setMenu(pmGoURL);

    pmLinks = new QMenu(this);
    pmLinks->setObjectName("pmLinks");
    QAction* n1 = menuItem(pmLinks, "N1", "リンクタグを作成する(&L)", 0);
    QAction* t1 = menuItem(pmLinks, "T1", "リンクテキストを指定してリンクタグを作成する(&T)", 0);
    pmLinks->addSeparator();
    QAction* i1 = menuItem(pmLinks, "I1", "ページ内リンク集を作成する(&P)", 0);
    QAction* c1 = menuItem(pmLinks, "C1", "ページ内リンク集をクリップボードにコピーする(&C)", 1);
    linkTag->setMenu(pmLinks);

    // The keys of every browser; the tool tips name them.
    SetShortcut(goBack, QKeySequence(Qt::ALT | Qt::Key_Left));
    SetShortcut(goForward, QKeySequence(Qt::ALT | Qt::Key_Right));
    SetShortcut(retry, QKeySequence(Qt::Key_F5));
    SetShortcut(stop, QKeySequence(Qt::Key_Escape));
    auto* focusAddress = new QAction(this);
    focusAddress->setObjectName("acFocusAddress");
    focusAddress->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    focusAddress->setShortcutContext(Qt::WindowShortcut);
    addAction(focusAddress);
    connect(focusAddress, &QAction::triggered, this, [this] {
        edURL->setFocus(Qt::ShortcutFocusReason);
        edURL->selectAll();
    });
    edURL->setToolTip(Tr("アドレス (Ctrl+L)"));

    for (QAction* a : {goBack, goForward, retry, stop, home}) tbToolBar->addAction(a);
    tbToolBar->addWidget(edURL);
    for (QAction* a : {goURL, source, selection, getURL, linkTag}) tbToolBar->addAction(a);
    tbToolBar->addSeparator();
    tbToolBar->addAction(acSkipLoop);
    for (const char* name : {"tbGoURL", "ToolButton3"}) {
        if (auto* button = qobject_cast<QToolButton*>(tbToolBar->widgetForAction(Action(name))))
            button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    if (QWidget* skip = tbToolBar->widgetForAction(acSkipLoop)) skip->setObjectName("ToolButton1");

    connect(goBack, &QAction::triggered, this, &TfrBrowserNavi::tbGoBackClick);
    connect(goForward, &QAction::triggered, this, &TfrBrowserNavi::tbGoForwardClick);
    connect(retry, &QAction::triggered, this, &TfrBrowserNavi::tbRetryClick);
    connect(stop, &QAction::triggered, this, &TfrBrowserNavi::tbStopClick);
    connect(home, &QAction::triggered, this, &TfrBrowserNavi::tbHomeClick);
    connect(edURL, &QLineEdit::returnPressed, this, &TfrBrowserNavi::tbGoURLClick);  // Enter goes, it types nothing
    connect(goURL, &QAction::triggered, this, &TfrBrowserNavi::tbGoURLClick);
    connect(source, &QAction::triggered, this, &TfrBrowserNavi::tbGetHTMLSourceClick);
    connect(selection, &QAction::triggered, this, &TfrBrowserNavi::ToolButton5Click);
    connect(getURL, &QAction::triggered, this, &TfrBrowserNavi::tbGetURLClick);
    connect(linkTag, &QAction::triggered, this, &TfrBrowserNavi::ToolButton3Click);
    connect(acSkipLoop, &QAction::triggered, this, &TfrBrowserNavi::acSkipLoopExecute);
    connect(urlC1, &QAction::triggered, this, &TfrBrowserNavi::URLC1Click);
    connect(urlS1, &QAction::triggered, this, &TfrBrowserNavi::URLS1Click);
    connect(html1, &QAction::triggered, this, &TfrBrowserNavi::HTML1Click);
    for (QAction* a : searches) connect(a, &QAction::triggered, this, [this, a] { BingB1Click(a->data().toInt()); });
    connect(n1, &QAction::triggered, this, &TfrBrowserNavi::N1Click);
    connect(t1, &QAction::triggered, this, &TfrBrowserNavi::T1Click);
    for (QAction* a : {i1, c1}) connect(a, &QAction::triggered, this, [this, a] { I1Click(a->data().toInt()); });
}

QAction* TfrBrowserNavi::MakeAction(const char* name, const char* hint, int image) {
    auto* a = new QAction(this);
    a->setObjectName(name);
    a->setText(Tr(hint));
    a->setToolTip(Tr(hint));
    a->setIcon(BrowserImageIcon(image));
    return a;
}

QAction* TfrBrowserNavi::Action(const char* name) const { return findChild<QAction*>(name); }


void TfrBrowserNavi::AttachBrowser(TfrBrowserBase* frame) {
    FBrowser = frame;
    if (!frame) return;
    frame->OpenURL("about:blank", true);
    connect(frame, &TfrBrowserBase::StateChanged, this, &TfrBrowserNavi::UpdateNaviButtons);
    connect(frame, &TfrBrowserBase::AddressChanged, edURL, &QLineEdit::setText);
    UpdateNaviButtons();
    tbToolBarResize();
    LinkStr = DefaultLinkTemplate();
}

void TfrBrowserNavi::tbToolBarResize() {
    // The address box takes the room the buttons leave (its size policy); the frame is exactly as
    // high as its tool bar.
    setFixedHeight(tbToolBar->sizeHint().height());
}

void TfrBrowserNavi::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    tbToolBarResize();
}

void TfrBrowserNavi::UpdateNaviButtons() {
    Action("tbGoBack")->setEnabled(FBrowser && FBrowser->CanGoBack());
    Action("tbGoForward")->setEnabled(FBrowser && FBrowser->CanGoForward());
    acSkipLoop->setEnabled(FBrowser && FBrowser->Busy());
}

void TfrBrowserNavi::SetAddressText(const std::string& url) { edURL->setText(SjisToQString(url)); }
std::string TfrBrowserNavi::AddressText() const { return QStringToSjis(edURL->text()); }

void TfrBrowserNavi::SetClipboard(const std::string& sjis) { QGuiApplication::clipboard()->setText(SjisToQString(sjis)); }
std::string TfrBrowserNavi::ClipboardText() const { return QStringToSjis(QGuiApplication::clipboard()->text()); }

bool TfrBrowserNavi::RefuseScriptUrl(const std::string& url) {
    if (!IsScriptUrl(url)) return false;
    ShowMessage(window(), Tr("スクリプトやデータを含むアドレス（javascript: や data: など）は開けません"));
    return true;
}

// ---- address and navigation ----

void TfrBrowserNavi::tbGoURLClick() {
    if (!FBrowser) return;
    std::string url = TrimSpaces(AddressText());
    if (url.empty()) url = "about:blank";
    FBrowser->OpenURL(url, false);
}

void TfrBrowserNavi::URLC1Click() {
    const std::string text = ClipboardText();
    if (RefuseScriptUrl(text)) return;
    SetAddressText(text);
    tbStopClick();
    tbGoURLClick();
}

void TfrBrowserNavi::URLS1Click() {
    if (!FBrowser) return;
    const std::string sel = TrimSpaces(FBrowser->GetSelectionText());
    if (sel.empty()) {
        ShowMessage(window(), Tr("選択部分がありません"));
        return;
    }
    if (RefuseScriptUrl(sel)) return;
    tbStopClick();
    FBrowser->OpenURL(sel, false);
}

void TfrBrowserNavi::tbGoBackClick() {
    if (FBrowser && FBrowser->wbBrowser()) FBrowser->wbBrowser()->GoBack();
}
void TfrBrowserNavi::tbGoForwardClick() {
    if (FBrowser && FBrowser->wbBrowser()) FBrowser->wbBrowser()->GoForward();
}
void TfrBrowserNavi::tbHomeClick() {
    if (FBrowser && FBrowser->wbBrowser()) FBrowser->wbBrowser()->GoHome();
}
void TfrBrowserNavi::tbRetryClick() {
    if (FBrowser && FBrowser->wbBrowser()) FBrowser->wbBrowser()->Refresh();
}

void TfrBrowserNavi::tbStopClick() {
    if (FBrowser) FBrowser->Stop();
}

void TfrBrowserNavi::acSkipLoopExecute() {
    if (FBrowser) FBrowser->Skip();
}

// ---- clipboard and display ----

void TfrBrowserNavi::tbGetHTMLSourceClick() {
    if (FBrowser) SetClipboard(FBrowser->GetHTMLSource());
}

void TfrBrowserNavi::ToolButton5Click() {
    if (FBrowser) SetClipboard(FBrowser->GetSelectionText());
}

void TfrBrowserNavi::tbGetURLClick() {
    if (FBrowser) SetClipboard(FBrowser->GetLocationURL());
}

void TfrBrowserNavi::HTML1Click() {
    if (FBrowser) FBrowser->LoadHTML(ClipboardText());
}

// ---- link tags ----

bool TfrBrowserNavi::CopyLinkTag(bool askText) {
    if (!FBrowser) return false;
    const std::string url = FBrowser->GetLocationURL();
    std::string text = TrimSpaces(FBrowser->GetSelectionText());
    if (text.empty()) text = TrimSpaces(FBrowser->GetDocumentTitle());
    if (askText) {
        const auto answer = Messages().Input(window(), Tr("リンクテキストの入力"), Tr("リンクテキストを入力してください"),
                                             SjisToQString(text));
        if (!answer) return false;
        text = TrimSpaces(QStringToSjis(*answer));
    }
    SetClipboard(MakeLinkTag(LinkStr, url, text));
    return true;
}

void TfrBrowserNavi::ToolButton3Click() { CopyLinkTag(false); }
void TfrBrowserNavi::T1Click() { CopyLinkTag(true); }

void TfrBrowserNavi::N1Click() {
    const auto answer =
        Messages().Input(window(), Tr("リンクタグの作成"), Tr("リンクタグを入力してください"), SjisToQString(LinkStr));
    if (answer && !answer->isEmpty()) LinkStr = QStringToSjis(*answer);
}

// ---- page link list, index and backlink checks ----

void TfrBrowserNavi::I1Click(int tag) {
    if (!FBrowser) return;
    const std::string source = FBrowser->GetHTMLSource();
    const std::string page = FBrowser->GetLocationURL();
    const Qt::KeyboardModifiers mods = KeyboardModifiers ? KeyboardModifiers() : Qt::NoModifier;
    // A keyword is offered again next time, but filters only while its key is held.
    auto keyword = [this](bool held, std::string& stored, const char* caption) {
        if (!held) return std::string();
        const auto answer = Messages().Input(window(), Tr(caption), Tr("キーワードを入力してください"), SjisToQString(stored));
        if (answer) stored = QStringToSjis(*answer);
        return stored;
    };
    const std::string textKeyword = keyword(mods & Qt::ShiftModifier, FTextKeyword, "検索抽出語を設定(アンカーテキスト)");
    const std::string urlKeyword = keyword(mods & Qt::ControlModifier, FURLKeyword, "検索抽出語を設定(URL)");
    const std::string result = BuildLinkListPage(source, page, textKeyword, urlKeyword);
    if (tag == 0)
        FBrowser->LoadHTML(result);
    else
        SetClipboard(result);
}

void TfrBrowserNavi::BingB1Click(int tag) {
    if (!FBrowser) return;
    const std::string request = SearchRequestURL(tag, FBrowser->GetLocationURL());
    if (!request.empty()) FBrowser->OpenURL(request, false);
}

}  // namespace hanabira
