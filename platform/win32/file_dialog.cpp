// The save-file dialog on the GUI library's own file dialog (not the desktop
// portal's, so that it behaves the same on every desktop and under a test's
// virtual display).
#include <QDir>
#include <QFileDialog>
#include <QStringList>
#include <cstring>

#include "platform/win32/commdlg.h"
#include "platform/win32/ui_internal.h"
#include "platform/win32/window_access.h"

using namespace platform::win32;

namespace {

DWORD lastDialogError = 0;

BOOL fail(DWORD error) {
    lastDialogError = error;
    return FALSE;
}

// "PNG pictures\0*.png;*.PNG\0\0" becomes "PNG pictures (*.png *.PNG)"; a
// description that shows its patterns already keeps them as they are.
QStringList nameFilters(LPCSTR filter) {
    QStringList filters;
    while (filter && *filter) {
        const char* patterns = filter + std::strlen(filter) + 1;
        if (!*patterns)
            break;
        const QString description = fromAnsi(filter);
        const QString list = fromAnsi(patterns).replace(';', ' ');
        filters << (description.endsWith("(" + list + ")") ? description : description + " (" + list + ")");
        filter = patterns + std::strlen(patterns) + 1;
    }
    return filters;
}

}  // namespace

BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) {
    lastDialogError = 0;
    if (!ofn || ofn->lStructSize != sizeof(OPENFILENAMEA))
        return fail(CDERR_STRUCTSIZE);
    if (!ofn->lpstrFile || ofn->nMaxFile == 0 || !ensureGui())
        return fail(CDERR_INITIALIZATION);

    QFileDialog dialog(platform::topLevelWidgetFor(ofn->hwndOwner),
                       ofn->lpstrTitle ? fromAnsi(ofn->lpstrTitle) : QStringLiteral("Save As"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!(ofn->Flags & OFN_OVERWRITEPROMPT))
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = nameFilters(ofn->lpstrFilter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (ofn->nFilterIndex >= 1 && ofn->nFilterIndex <= DWORD(filters.size()))
            dialog.selectNameFilter(filters[int(ofn->nFilterIndex) - 1]);
    }
    if (ofn->lpstrDefExt && *ofn->lpstrDefExt)
        dialog.setDefaultSuffix(fromAnsi(ofn->lpstrDefExt));
    const QString folder = ofn->lpstrInitialDir && *ofn->lpstrInitialDir ? fromAnsi(ofn->lpstrInitialDir)
                                                                          : QDir::currentPath();
    dialog.setDirectory(folder);
    const QString proposed = fromAnsi(ofn->lpstrFile, int(strnlen(ofn->lpstrFile, ofn->nMaxFile)));
    if (!proposed.isEmpty())
        dialog.selectFile(proposed);
    dialog.setWindowModality(Qt::ApplicationModal);

    bool finished = false;
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&finished] { finished = true; });
    dialog.show();
    runModalLoop([&finished] { return finished; });
    if (dialog.result() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return FALSE;

    const QString chosen = QDir::toNativeSeparators(dialog.selectedFiles().first());
    const std::string path = toAnsi(chosen);
    // A name the code page cannot hold would name another file.
    if (fromAnsi(path.c_str(), int(path.size())) != chosen)
        return fail(FNERR_INVALIDFILENAME);
    if (path.size() + 1 > ofn->nMaxFile)
        return fail(FNERR_BUFFERTOOSMALL);
    std::memcpy(ofn->lpstrFile, path.c_str(), path.size() + 1);
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    ofn->nFileOffset = WORD(nameStart);
    ofn->nFileExtension = WORD(dot != std::string::npos && dot > nameStart ? dot + 1 : 0);
    if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
        const std::string title = path.substr(nameStart);
        const std::size_t n = std::min<std::size_t>(title.size(), ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.data(), n);
        ofn->lpstrFileTitle[n] = '\0';
    }
    return TRUE;
}

DWORD WINAPI CommDlgExtendedError() { return lastDialogError; }
