#include "viewers/GLView.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QTimer>
#include <cmath>

#include "dialogs/ModelImportDialog.h"

namespace tarn::viewers {

namespace {

double Wrap360(double a) {
  if (a < 0) a += 360;
  if (a > 360) a -= 360;
  return a;
}

}  // namespace

CGLView::CGLView(QWidget* parent) : QOpenGLWidget(parent) {
  setObjectName("glView");
  setFocusPolicy(Qt::StrongFocus);
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setDepthBufferSize(16);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  setFormat(format);
  m_timer = new QTimer(this);
  m_timer->setObjectName("animationTimer");
  m_timer->setInterval(kAnimationIntervalMs);
  connect(m_timer, &QTimer::timeout, this, [this] {
    if (m_frameCount > 0) SetFrame((m_currentFrame + 1) % m_frameCount);
  });
}

CGLView::~CGLView() {
  m_timer->stop();
  FreeGL();
  // The base class destroys the context after this class is gone: its signal must not reach here.
  if (QOpenGLContext* ctx = context()) disconnect(ctx, nullptr, this, nullptr);
}

void CGLView::FreeGL() {
  if (!m_texture) return;
  // Called from the context's own signal, or from the destructor while the widget still has it.
  QOpenGLContext* ctx = context();
  if (!ctx || !isValid()) {
    m_texture = 0;
    return;
  }
  makeCurrent();
  const GLuint texture = m_texture;
  glDeleteTextures(1, &texture);
  m_texture = 0;
  doneCurrent();
  m_skinDirty = true;
}

void CGLView::SetModel(ModelData model, bool loaded) {
  m_model = std::move(model);
  m_modelLoaded = loaded;
  m_currentFrame = 0;
  m_currentAnimation = 0;
  m_animationCount = static_cast<int>(m_model.animations.size());
  m_frameCount = m_animationCount > 0 ? static_cast<int>(m_model.animations.front().frames.size()) : 0;
  m_bounds = BoundsOf(m_model);
  ResetView();
  SelectSkin(0, false);
}

double CGLView::FramingDistance() const {
  if (m_bounds.empty) return 100;
  // Each corner of the box, turned as the camera turns it (roll, then pitch, then yaw, about the
  // box's centre), must lie inside the view's pyramid: |x| <= (d - z) tan(half width), and the
  // same for y. The nearest d that holds for all eight, with a margin, frames the box snugly in
  // the camera's starting turn.
  const double tanHeight = std::tan(kFieldOfView / 2 * M_PI / 180);
  const double tanWidth = tanHeight * m_aspect;
  auto turn = [](double& a, double& b, double degrees) {
    const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    const double a2 = c * a - s * b, b2 = s * a + c * b;
    a = a2, b = b2;
  };
  double distance = 0;
  for (int corner = 0; corner < 8; ++corner) {
    double p[3];
    for (int k = 0; k < 3; ++k)
      p[k] = static_cast<double>((corner >> k) & 1 ? m_bounds.max[k] : m_bounds.min[k]) - m_bounds.Center(k);
    turn(p[0], p[1], m_roll);   // about z
    turn(p[1], p[2], m_pitch);  // about x
    turn(p[2], p[0], m_yaw);    // about y
    const double margin = 1.1;
    distance =
        std::max({distance, p[2] + margin * std::abs(p[0]) / tanWidth, p[2] + margin * std::abs(p[1]) / tanHeight});
  }
  // Never inside the model, and not so close that the near plane would cut it.
  return std::max(distance, m_bounds.Radius() + 1);
}

void CGLView::ResetView() {
  m_yaw = 225, m_pitch = 270, m_roll = 0, m_panX = 0, m_panY = 0;
  m_distance = FramingDistance();
  m_framed = true;
  ApplyCamera();
}

void CGLView::MoveCamera() {
  m_framed = false;
  ApplyCamera();
}

void CGLView::SelectSkin(int index, bool redraw) {
  m_currentSkin = index;
  m_skinDirty = true;
  if (redraw) Redraw();
}

void CGLView::SelectAnimation(int index) {
  if (index < 0 || index >= m_animationCount) return;
  m_currentAnimation = index;
  m_currentFrame = 0;
  m_frameCount = static_cast<int>(m_model.animations[static_cast<std::size_t>(index)].frames.size());
  emit animationChanged(index);
  emit frameChanged(m_currentFrame);
  Redraw();
}

void CGLView::SetFrame(int frame) {
  if (m_frameCount <= 0) return;
  m_currentFrame = std::clamp(frame, 0, m_frameCount - 1);
  emit frameChanged(m_currentFrame);
  Redraw();
}

void CGLView::Play() {
  if (m_timer->isActive()) return;
  m_timer->start();
  emit playingChanged(true);
}

void CGLView::Stop() {
  if (!m_timer->isActive()) return;
  m_timer->stop();
  emit playingChanged(false);
}

bool CGLView::IsPlaying() const { return m_timer->isActive(); }

void CGLView::Redraw() {
  ++m_redraws;
  update();
}

void CGLView::ApplyCamera() { Redraw(); }

void CGLView::ZoomIn() {
  m_framed = false;
  m_distance -= 2;
  if (m_distance < 1) {
    m_distance = 1;
    return;
  }
  ApplyCamera();
}

void CGLView::ZoomOut() {
  m_distance += 2;
  MoveCamera();
}

void CGLView::Move(double dx, double dy) {
  m_panX += dx;
  m_panY += dy;
  MoveCamera();
}

void CGLView::Rotate(double dyaw) {
  m_yaw = Wrap360(m_yaw + dyaw);
  MoveCamera();
}

void CGLView::initializeGL() {
  const GLfloat ambient[] = {0.4f, 0.4f, 0.4f, 1.0f};
  const GLfloat light[] = {10.0f, 35.0f, 10.0f, 0.0f};
  glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glDepthFunc(GL_LESS);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_NORMALIZE);
  glShadeModel(GL_FLAT);
  glEnable(GL_TEXTURE_2D);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  m_texture = texture;
  glBindTexture(GL_TEXTURE_2D, texture);
  // Deleting the texture needs the context that made it, current, before it goes.
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &CGLView::FreeGL, Qt::UniqueConnection);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  // Opaque: the widget is composited into the window, where a clear alpha would show through.
  glClearColor(0, 0, 0, 1);
  glMatrixMode(GL_MODELVIEW);
  m_skinDirty = true;
}

void CGLView::resizeGL(int w, int h) {
  // A window squeezed to no height keeps the projection it had.
  if (w < 0 || h <= 0) return;
  const qreal ratio = devicePixelRatioF();
  glViewport(0, 0, static_cast<GLint>(w * ratio), static_cast<GLint>(h * ratio));
  m_aspect = static_cast<double>(w) / h;
  // Until the user moves the camera, the model keeps filling the view as the window's shape
  // settles (or the user resizes it).
  if (m_framed) m_distance = FramingDistance();
}

void CGLView::UploadSkin() {
  m_skinDirty = false;
  if (!m_texture) return;
  glBindTexture(GL_TEXTURE_2D, m_texture);
  if (m_currentSkin < 0 || m_currentSkin >= static_cast<int>(m_model.skins.size())) return;
  const ModelSkin& skin = m_model.skins[static_cast<std::size_t>(m_currentSkin)];
  // Never more than the pixels hold: the driver would read past them.
  if (skin.pixels.empty() || skin.paddedWidth <= 0 || skin.paddedHeight <= 0 ||
      skin.pixels.size() < static_cast<std::size_t>(skin.paddedWidth) * static_cast<std::size_t>(skin.paddedHeight) * 3)
    return;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, skin.paddedWidth, skin.paddedHeight, 0, GL_RGB, GL_UNSIGNED_BYTE,
               skin.pixels.data());
}

void CGLView::paintGL() {
  if (m_skinDirty) UploadSkin();
  glBindTexture(GL_TEXTURE_2D, m_texture);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // Near and far planes hug the model's sphere wherever the camera is, so that no distance
  // clips it and the depth buffer's precision is spent on the model.
  const double radius = m_bounds.Radius();
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(kFieldOfView, m_aspect, std::max(0.5, (m_distance - radius) / 2), m_distance + 2 * radius + 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslated(m_panX, m_panY, -m_distance);
  glRotated(m_yaw, 0, 1, 0);
  glRotated(m_pitch, 1, 0, 0);
  glRotated(m_roll, 0, 0, 1);
  if (!m_bounds.empty) glTranslated(-m_bounds.Center(0), -m_bounds.Center(1), -m_bounds.Center(2));
  const GLfloat diffuse[] = {0.8f, 0.8f, 0.8f, 1.0f};
  glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
  const auto corners = BuildFrameGeometry(m_model, m_currentAnimation, m_currentFrame);
  if (corners.empty()) return;
  glBegin(GL_TRIANGLES);
  for (const FrameCorner& c : corners) {
    glTexCoord2d(c.s, c.t);
    glVertex3f(c.x, c.y, c.z);
  }
  glEnd();
}

void CGLView::mousePressEvent(QMouseEvent* e) {
  m_lastMouseX = static_cast<int>(e->position().x());
  m_lastMouseY = static_cast<int>(e->position().y());
  setFocus(Qt::MouseFocusReason);
}

void CGLView::mouseMoveEvent(QMouseEvent* e) {
  const int x = static_cast<int>(e->position().x()), y = static_cast<int>(e->position().y());
  if (!m_mouseSeen) {
    m_mouseSeen = true;
    m_lastMouseX = x;
    m_lastMouseY = y;
    return;
  }
  const int dx = x - m_lastMouseX, dy = y - m_lastMouseY;
  m_lastMouseX = x;
  m_lastMouseY = y;
  const Qt::MouseButtons b = e->buttons();
  if ((b & Qt::LeftButton) && (e->modifiers() & Qt::ControlModifier)) {
    const float third = 0.33333334f;
    m_panX += dx * third;
    m_panY -= dy * third;
    MoveCamera();
  } else if (b & Qt::LeftButton) {
    m_yaw = Wrap360(m_yaw + dx / 2.0);
    if (m_yaw >= 45 && m_yaw < 135) m_roll = Wrap360(m_roll + dy / 2.0);
    else if (m_yaw >= 135 && m_yaw < 225) m_pitch = Wrap360(m_pitch - dy / 2.0);
    else if (m_yaw >= 225 && m_yaw < 315) m_roll = Wrap360(m_roll - dy / 2.0);
    else m_pitch = Wrap360(m_pitch + dy / 2.0);
    MoveCamera();
  } else if (b & Qt::RightButton) {
    m_framed = false;
    m_distance += dy;
    if (m_distance < 1) {
      m_distance = 1;
      return;
    }
    ApplyCamera();
  }
}

void CGLView::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Home) {
    ResetView();
    return;
  }
  const QString text = e->text();
  if (text.size() != 1) {
    QOpenGLWidget::keyPressEvent(e);
    return;
  }
  const QChar c = text.front();
  if (c == '+' || c == '=') {
    if (m_currentAnimation + 1 < m_animationCount) SelectAnimation(m_currentAnimation + 1);
  } else if (c == '-' || c == '_') {
    if (m_currentAnimation > 0) SelectAnimation(m_currentAnimation - 1);
  } else if (c.toLower() == 'l') {
    PreviousFrame();
  } else if (c.toLower() == 'n') {
    NextFrame();
  } else if (c.toLower() == 'p') {
    Play();
  } else if (c.toLower() == 's') {
    Stop();
  } else if (c >= '1' && c <= '9') {
    const int index = c.digitValue() - 1;
    if (index < m_animationCount) SelectAnimation(index);
  } else {
    QOpenGLWidget::keyPressEvent(e);
  }
}

namespace {

// The import dialog's converted model (shell/ModelImportDialog), drawn by this view, playing
// and turning slowly so that every side is seen.
const bool kImportPreview = [] {
  dialogs::SetModelPreviewHooks({[](QWidget* parent) -> QWidget* { return new CGLView(parent); },
                                 [](QWidget* view, ModelData model) {
                                   auto* gl = static_cast<CGLView*>(view);
                                   gl->SetModel(std::move(model), true);
                                   gl->Play();
                                   if (gl->findChild<QTimer*>("modelTurn")) return;
                                   auto* turn = new QTimer(gl);
                                   turn->setObjectName("modelTurn");
                                   QObject::connect(turn, &QTimer::timeout, gl, [gl] { gl->Rotate(2); });
                                   turn->start(40);
                                 }});
  return true;
}();

}  // namespace

}  // namespace tarn::viewers
