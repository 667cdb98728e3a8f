#pragma once
// The registration window "URL登録": probes a page for its feed and title, and registers or edits
// a site. Created once, hidden between uses, shown modally by the main window.
#include <QDialog>

#include <functional>
#include <string>

#include "store/site_record.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QStatusBar;
class QToolButton;
class QWidget;

namespace hanabira {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // When true, the next showing empties the fields for a new site; every showing sets it back to
    // true, so only the one showing after an edit keeps the prefilled fields.
    bool ClearOnShow = true;
    // LastVisit and LastUpdate of the site being edited (Shift_JIS), carried into the record.
    std::string KeptLastVisit, KeptLastUpdate;

    // The main window's AddOrUpdateSite (record, refresh = true), and the switch of its page control
    // to the site list page.
    std::function<void(const TMWBlogListRec&)> OnAddOrUpdateSite;
    std::function<void()> OnShowSiteListPage;
    // Asked when the user takes back a registration under way (Escape or closing the window while
    // its site is checked): the main window stops the check and undoes the registration.
    std::function<void()> OnCancelRegistration;
    // True while a probe or a registration runs (the window keeps handling events meanwhile).
    bool Busy() const { return busy_; }

    // Prepares the next showing: for a new site (the fields are emptied when it shows), or to edit
    // rec (its fields filled in and kept at that showing, its visit and update dates carried over).
    void BeginAdd();
    void BeginEdit(const TMWBlogListRec& rec);

    void FormShow();
    // False when nothing was probed (no URL, or a decoder error that was reported).
    bool ProbeSite(bool showMessage);
    void RegisterSite();
    // True when the record's SiteTitle is not empty.
    bool FillSiteRecord(TMWBlogListRec& rec) const;

    void btnSiteCheckClick();
    void btnSetSiteClick();
    void SpeedButton1Click();
    // The series-URL editor does not exist, so this only gives the window its client height: the
    // panel's height plus the status bar's.
    void sbDisoplaySeriesUrlsClick();

    // Fills the category choice from CR LF separated names (Shift_JIS), with nothing selected.
    void SetCategoryList(const std::string& categoryListTextSjis);
    // Selects the category equal to sjis with ASCII letter case ignored; no match: no selection.
    void SelectCategoryIgnoringCase(const std::string& sjis);

    QWidget* pnRegist = nullptr;
    QLineEdit* edSiteURL = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QLineEdit* edSiteTitle = nullptr;
    QLineEdit* edRSSURL = nullptr;
    QComboBox* cbCategory = nullptr;
    QCheckBox* cbHeadCheck = nullptr;
    QLineEdit* edManagerName = nullptr;
    QPushButton* btnSiteCheck = nullptr;
    QPushButton* btnSetSite = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    // Escape and the close button: while a probe or a registration runs they cancel it, and the
    // window closes once it has ended.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The panel's grid, the status bar under it and the tab order.
    void LayOutControls();
    void SetStatus(const QString& text);
    void SetButtonsEnabled(bool enabled);
    // Ends the busy state of a probe or a registration; a cancel asked meanwhile closes the window now.
    void EndBusy();

    bool busy_ = false;
    bool cancelRequested_ = false;
};

}  // namespace hanabira
