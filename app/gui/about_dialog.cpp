#include "app/gui/about_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <string>

#include "app/gui/app_icon.h"
#include "app/gui/dialog_units.h"
#include "res/dialog_layout.h"
#include "res/version_line.h"

namespace quorvane {
namespace {

QLabel* PlainLabel(QWidget* parent, const std::string& text, const QRect& rect) {
    auto* label = new QLabel(QString::fromLatin1(text.c_str()), parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent, const std::string& signature) : QDialog(parent) {
    using namespace layout;
    setObjectName(QStringLiteral("about_dialog"));
    setWindowTitle(QString::fromLatin1(ABOUT_TITLE));
    setWindowIcon(AppIcon());
    setModal(true);
    const DialogUnits units(font());
    setFixedSize(units.Size(ABOUT_WIDTH, ABOUT_HEIGHT));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("about_icon"));
    picture->setPixmap(AppIconPixmap());
    // The template gives the icon's corner; the picture keeps its own size.
    picture->setGeometry(QRect(units.Map(ABOUT_ICON_RECT).topLeft(), AppIconPixmap().size()));

    PlainLabel(this, ABOUT_VERSION_PREFIX + DisplayVersion(), units.Map(ABOUT_VERSION_RECT))
        ->setObjectName(QStringLiteral("version"));
    PlainLabel(this, ABOUT_SECOND_TEXT, units.Map(ABOUT_SECOND_RECT))
        ->setObjectName(QStringLiteral("second_line"));
    if (!signature.empty()) {
        // The trusted comment is the author's: it may be longer than the
        // line, so the whole of it is the label's tool tip too.
        QLabel* signer = PlainLabel(this, "", units.Map(ABOUT_SIGNATURE_RECT));
        signer->setText(QString::fromStdString(signature));
        signer->setToolTip(signer->text());
        signer->setObjectName(QStringLiteral("signature"));
    }

    auto* ok = new QPushButton(QString::fromLatin1(ABOUT_OK_TEXT), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry(units.Map(ABOUT_OK_RECT));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quorvane
