#include "ui/frmCommDLG.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/ui/Application.h"
#include "ui/QtText.h"

namespace qm::ui {
namespace {}  // namespace

QStringList TranslateFilter(const std::string& filter) {
  QStringList result;
  if (filter.empty()) return result;
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString patterns = i + 1 < parts.size() ? parts[i + 1] : QString();
    QStringList globs;
    for (QString glob : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      glob = glob.trimmed();
      if (glob == QLatin1String("*.*")) glob = QStringLiteral("*");
      if (!glob.isEmpty()) globs << glob;
    }
    if (globs.isEmpty()) globs << QStringLiteral("*");
    result << description + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

std::int32_t ColorToLong(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::int32_t>(red | (green << 8) | (blue << 16));
}

void CommonDialog::ShowOpen() { ShowFile(false); }
void CommonDialog::ShowSave() { ShowFile(true); }

void CommonDialog::ShowFile(bool save) {
  EnsureApplication();
  QFileDialog dialog(QApplication::activeWindow(), Q(DialogTitle));
  dialog.setObjectName(QStringLiteral("dlgComDlg"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!(Flags & cdlOFNOverwritePrompt)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!InitDir.empty()) dialog.setDirectory(Q(InitDir));
  std::string suffix = DefaultExt;
  if (!suffix.empty() && suffix.front() == '.') suffix.erase(0, 1);
  dialog.setDefaultSuffix(Q(suffix));
  const QStringList filters = TranslateFilter(Filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) dialog.selectNameFilter(filters[FilterIndex - 1]);
  }
  if (!FileName.empty()) dialog.selectFile(Q(FileName));
  const bool accepted = dialog.exec() == QDialog::Accepted;
  // The filter the user ended with counts, also after a cancel.
  if (!filters.isEmpty()) FilterIndex = static_cast<std::int16_t>(filters.indexOf(dialog.selectedNameFilter()) + 1);
  if (!accepted) {
    if (CancelError) Raise(cdlCancel);
    FileName.clear();
    return;
  }
  const QStringList files = dialog.selectedFiles();
  FileName = files.isEmpty() ? std::string() : files.front().toStdString();
}

void CommonDialog::ShowColor() {
  EnsureApplication();
  QColorDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("dlgComDlg"));
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  dialog.setCurrentColor(QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF));
  if (dialog.exec() != QDialog::Accepted) {
    if (CancelError) Raise(cdlCancel);
    return;
  }
  const QColor chosen = dialog.selectedColor();
  Color = ColorToLong(static_cast<std::uint8_t>(chosen.red()), static_cast<std::uint8_t>(chosen.green()),
                      static_cast<std::uint8_t>(chosen.blue()));
}

}  // namespace qm::ui
