#include "window/make_list_command.h"

#include <QElapsedTimer>
#include <QProgressDialog>

#include "listgen/list_document.h"
#include "window/dialogs.h"

namespace melodex {
namespace {

const QString kNoMp3Files = QStringLiteral("MP3ファイルがありません");
const QString kNoAudioFiles = QStringLiteral("音声ファイルがありません");
const QString kSuccess = QStringLiteral("Success");
const QString kFileIoError = QStringLiteral("file i/o error");

// A run that ends sooner finishes without a dialog flashing up.
constexpr int kProgressDelayMs = 500;
// Redrawing the dialog for each of thousands of files would cost more than
// reading them; a few times a second is enough to look alive and to notice Cancel.
constexpr int kProgressStepMs = 50;

} // namespace

std::optional<Notice> MakeList(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, const TrackLibrary& library, TrackTag& tag, StreamInfo& info,
    QWidget* progressParent)
{
    if (fileNames.empty())
        return Notice(options.formats.isMp3Only() ? kNoMp3Files : kNoAudioFiles);
    const int total = static_cast<int>(fileNames.size());
    QProgressDialog progress(QString(), QStringLiteral("キャンセル"), 0, total, progressParent);
    progress.setObjectName(QStringLiteral("MakeListProgress"));
    progress.setWindowTitle(kAppTitle);
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
    const auto reader = [&library](const std::string& path, TrackTag& t, StreamInfo& i) {
        return library.getFileInfo(path.c_str(), &t, &i);
    };

    const ListResult result = writeListDocument(options, folder, fileNames, tag, info, reader, onProgress);
    progress.reset();

    switch (result.status) {
    case ListResult::Status::Success:
        return Notice(kSuccess);
    case ListResult::Status::Cancelled:
        // The user asked for it: nothing was written, nothing to report.
        return std::nullopt;
    case ListResult::Status::Failed:
        break;
    }
    return Notice(kFileIoError + QStringLiteral("\n")
        + QString::fromUtf8(result.reason.data(), static_cast<qsizetype>(result.reason.size())));
}

} // namespace melodex
