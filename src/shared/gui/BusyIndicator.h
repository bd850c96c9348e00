// The busy indicator of the screens: a spinning animation with a caption
// laid over the host's main window, plus the busy cursor, from Show until
// Hide.
//
// Show(window, kind): `window` is a QWidget* passed as void* (the shared
// services are Qt-free), or nullptr; a null or no longer existing window
// falls back to the host's main window, then to the active window. A second
// Show while one is up only changes the caption. Hide is harmless when
// nothing is shown. The overlay paints once at Show, so it is visible during
// the synchronous server call that usually follows; it animates whenever the
// event loop runs.
//
// The overlay takes the clicks meant for the window beneath it, except on a
// widget whose property kPassesBusyOverlay is true (a screen's cancel
// button during a run): the overlay leaves that widget's area out (neither
// dimmed nor covered), so it can be pressed whenever pending events run.
#pragma once

#include <QPointer>
#include <QWidget>

#include "shared/Services.h"

class QTimer;

namespace trd::gui {

// Object name of the overlay widget.
inline constexpr const char* kBusyOverlayName = "aviShowAvi";
// Name of the Boolean widget property that keeps a widget usable under the
// overlay.
inline constexpr const char* kPassesBusyOverlay = "trdPassesBusyOverlay";

class BusyOverlay final : public QWidget {
  Q_OBJECT
 public:
  BusyOverlay(QWidget* over, QString caption);
  void SetCaption(QString caption);
  const QString& Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Leaves the areas of the widgets that pass the overlay out of it.
  void UpdateMask();

  QString caption_;
  int angle_ = 0;
  QTimer* timer_;
};

class QtBusyIndicator final : public shared::BusyIndicator {
 public:
  ~QtBusyIndicator() override;
  void Show(void* window, shared::ShowAviKind kind) override;
  void Hide() override;
  // The overlay shown now, or nullptr.
  BusyOverlay* Overlay() const { return overlay_; }

 private:
  QPointer<BusyOverlay> overlay_;
  bool cursor_set_ = false;
};

// The caption shown for an animation kind.
QString CaptionOf(shared::ShowAviKind kind);

}  // namespace trd::gui
