// The two bitmap scroll bars that stand beside a skinned list in place of
// the system ones: arrows, track and thumb drawn from the program's bitmaps,
// following the list's scroll position and scrolling it when used.
#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

namespace qs::skin {

class CSkinListCtrl;

// The bars' window timers (2: start delay, 1: repeat). Replaceable so tests
// can fire them without waiting.
class BarTimers {
public:
    virtual ~BarTimers() = default;
    virtual void start(int id, int milliseconds) = 0;
    virtual void stop(int id) = 0;
    virtual bool active(int id) const = 0;
};

inline constexpr int kTimerRepeat = 1;
inline constexpr int kTimerStartDelay = 2;
inline constexpr int kStartDelayMs = 250;
inline constexpr int kRepeatMs = 50;

// What the two bars share: the served list, timers, capture and the
// drawing surface. Orientation-specific parts live in the subclasses.
class SkinScrollbarBase : public QWidget {
    Q_OBJECT
public:
    explicit SkinScrollbarBase(QWidget* parent = nullptr);
    ~SkinScrollbarBase() override;

    void setList(CSkinListCtrl* list) { m_pList = list; }
    CSkinListCtrl* list() const { return m_pList; }
    void setTimers(std::unique_ptr<BarTimers> timers);
    BarTimers& timers() { return *m_timers; }

    // Called by the timers (and by tests).
    virtual void onTimer(int id) = 0;
    virtual void UpdateThumbPosition() = 0;
    virtual void LimitThumbPosition() = 0;
    // Schedules a repaint; repainting a sibling from inside a paint is not
    // allowed, and the list calls this while it paints.
    void Draw() { update(); }

protected:
    void paintEvent(QPaintEvent*) override;
    virtual void drawBar(QPainter& p) = 0;
    void timerEvent(QTimerEvent* e) override;

    CSkinListCtrl* m_pList = nullptr;
    std::unique_ptr<BarTimers> m_timers;

private:
    friend class WindowTimers;
};

class CSkinHorizontalScrollbar : public SkinScrollbarBase {
    Q_OBJECT
public:
    explicit CSkinHorizontalScrollbar(QWidget* parent = nullptr) : SkinScrollbarBase(parent) {}

    bool bMouseDownArrowRight = false;
    bool bMouseDownArrowLeft = false;
    bool bDragging = false;
    bool bMouseDown = false;  // the thumb was pressed
    int nThumbLeft = 25;
    double dbThumbInterval = 0.0;

    void UpdateThumbPosition() override;
    void LimitThumbPosition() override;
    void onTimer(int id) override;
    void LineLeft();
    void LineRight();
    void PageLeft();
    void PageRight();

    QRect startArrowArea() const { return QRect(0, 0, 26, 20); }
    QRect endArrowArea() const { return QRect(width() - 26, 0, 26, 20); }
    QRect thumbArea() const { return QRect(nThumbLeft, 0, 26, 20); }
    bool enabledLook() const;

protected:
    void drawBar(QPainter& p) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class CSkinVerticleScrollbar : public SkinScrollbarBase {
    Q_OBJECT
public:
    explicit CSkinVerticleScrollbar(QWidget* parent = nullptr) : SkinScrollbarBase(parent) {}

    bool bMouseDownArrowUp = false;
    bool bMouseDownArrowDown = false;
    bool bDragging = false;  // only ever cleared
    bool bMouseDown = false;  // the thumb was pressed
    int nThumbTop = 14;
    double dbThumbInterval = 0.0;

    void UpdateThumbPosition() override;
    void LimitThumbPosition() override;
    void onTimer(int id) override;
    void LineUp();
    void LineDown();
    void PageUp();
    void PageDown();

    // The arrow areas match the drawn arrows (14 x 16 at the top and the
    // bottom, a little wider for the hand), on press and on release alike.
    QRect startArrowArea() const { return QRect(0, 0, 17, 16); }
    QRect endArrowArea() const { return QRect(0, height() - 16, 17, 16); }
    QRect thumbArea() const { return QRect(0, nThumbTop, 17, 26); }
    bool enabledLook() const;

protected:
    void drawBar(QPainter& p) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

}  // namespace qs::skin
