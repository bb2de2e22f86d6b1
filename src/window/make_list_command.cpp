#include "window/frmMain1.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressDialog>

#include "listgen/list_document.h"

namespace {

const QString kNoMp3Files = QStringLiteral("MP3ファイルがありません");
const QString kSuccess = QStringLiteral("Success");
const QString kFileIoError = QStringLiteral("file i/o error");

// A run that ends sooner finishes without a dialog flashing up.
constexpr int kProgressDelayMs = 500;
// Redrawing the dialog for each of thousands of files would cost more than
// reading them; a few times a second is enough to look alive and to notice Cancel.
constexpr int kProgressStepMs = 50;

} // namespace

void frmMain1::cmdMakeList1_Click()
{
    if (File1->count() == 0) {
        dialogs_.messageBox(kNoMp3Files);
        return;
    }
    MakeList();
}

bool frmMain1::MakeList()
{
    // One snapshot for the whole run: the progress dialog is modal, so the
    // controls cannot change under it, and the header and every row agree.
    const melodex::OptionSet options = optionSetFromControls();
    const std::vector<std::string> names = fileNames();
    const int total = static_cast<int>(names.size());

    QProgressDialog progress(QString(), QStringLiteral("キャンセル"), 0, total, this);
    progress.setObjectName(QStringLiteral("MakeListProgress"));
    progress.setWindowTitle(melodex::kAppTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kProgressDelayMs);
    QElapsedTimer sinceUpdate;
    const auto onProgress = [&progress, &sinceUpdate](int done, int count) {
        if (!sinceUpdate.isValid() || sinceUpdate.elapsed() >= kProgressStepMs || done == count) {
            sinceUpdate.start();
            progress.setLabelText(QStringLiteral("リストを作成しています… %1 / %2").arg(done).arg(count));
            progress.setValue(done); // lets a modal dialog handle its Cancel button
        }
        return !progress.wasCanceled();
    };
    const auto reader = [this](const std::string& path, TrackTag& tag, StreamInfo& info) {
        return library_.getFileInfo(path.c_str(), &tag, &info);
    };

    const melodex::ListResult result
        = melodex::writeListDocument(options, FolderPath, names, trackTag_, streamInfo_, reader, onProgress);
    progress.reset();

    switch (result.status) {
    case melodex::ListResult::Status::Success:
        dialogs_.messageBox(kSuccess);
        return true;
    case melodex::ListResult::Status::Cancelled:
        // The user asked for it: nothing was written, nothing to report.
        return false;
    case melodex::ListResult::Status::Failed:
        break;
    }
    dialogs_.messageBox(kFileIoError + QStringLiteral("\n")
        + QString::fromUtf8(result.reason.data(), static_cast<qsizetype>(result.reason.size())));
    return false;
}
