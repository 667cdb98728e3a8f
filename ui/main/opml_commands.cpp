#include "ui/main/opml_commands.h"

#include <QFile>
#include <QFileDialog>
#include <stdexcept>
#include <string>

#include "check/dates.h"
#include "store/opml.h"
#include "store/text_file.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "ui/main/main_window.h"

namespace hanabira {

namespace {

const char* const kOpmlFilter = "OPMLファイル (*.opml *.xml);;すべてのファイル (*)";

QString ChooseOpenFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, Tr("OPMLファイルから取り込む"), QString(), Tr(kOpmlFilter));
}

QString ChooseSaveFile(QWidget* parent) {
    QFileDialog dialog(parent, Tr("OPMLファイルに書き出す"), QString(), Tr(kOpmlFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("opml");
    dialog.selectFile("hanabira.opml");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

OpmlFileDialogs& OpmlDialogs() {
    static OpmlFileDialogs dialogs{ChooseOpenFile, ChooseSaveFile};
    return dialogs;
}

void ImportOpmlFile(TForm1* form) {
    // Sites imported now could never be saved: the data file that failed to load is kept as it is.
    if (form->DataFileBlocked()) {
        ShowMessage(form, Tr("サイトデータを読み込めなかったため、OPMLファイルは取り込めません"));
        return;
    }
    const QString path = OpmlDialogs().OpenFile ? OpmlDialogs().OpenFile(form) : QString();
    if (path.isEmpty()) return;

    std::string bytes, why;
    if (!ReadWholeFile(NativePath(path), bytes, &why)) {
        ShowMessage(form, Tr("OPMLファイルを読み込めません\n") + SjisToQString(why));
        return;
    }
    OpmlImport opml;
    try {
        opml = ReadOpml(bytes);
    } catch (const std::runtime_error& e) {
        // Nothing of a malformed file is taken.
        ShowMessage(form, SjisToQString(e.what()));
        return;
    }

    const OpmlMergeCount count = AddImportedSites(form->SiteTable(), opml.Sites, FormatDateText(NowDateTime()));
    const int newCategories = form->AddCategories(opml.Categories);

    // One save for the whole import.
    QString saveError;
    const bool saved = (count.Added == 0 && newCategories == 0) || form->SaveSiteDataFile(&saveError);
    form->ShowSelectedCategory();
    form->RefillRegistrationCategories();

    const QString summary =
        Tr("%1 件のサイトを追加しました。\n登録済みまたは重複のため %2 件をスキップしました。")
            .arg(count.Added)
            .arg(count.Skipped);
    if (!saved) {
        ShowMessage(form, summary + Tr("\n\nサイトデータを保存できませんでした。\n") + saveError);
        return;
    }
    Messages().Info(form, summary);
}

void ExportOpmlFile(TForm1* form) {
    const QString path = OpmlDialogs().SaveFile ? OpmlDialogs().SaveFile(form) : QString();
    if (path.isEmpty()) return;
    const std::string xml = WriteOpml(form->SiteTable(), form->Categories());
    std::string why;
    if (!WriteFileAtomic(NativePath(path), xml, &why)) {
        ShowMessage(form, Tr("OPMLファイルを書き出せませんでした\n") + SjisToQString(why));
        return;
    }
    Messages().Info(form, Tr("%1 件のサイトを書き出しました。").arg(form->SiteTable().Count()));
}

}  // namespace hanabira
