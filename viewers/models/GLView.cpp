#include "viewers/models/GLView.h"

#include <QKeyEvent>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
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

// GLSL 1.20, as the map view's (MapView.cpp).
const char* const kVertexShader = R"(#version 120
attribute vec3 position;
attribute vec2 texCoord;
attribute vec3 normal;
uniform mat4 modelView;
uniform mat4 projection;
uniform mat3 normalMatrix;
varying vec2 vTex;
varying float vShade;
void main() {
  vTex = texCoord;
  // The games light a model from above and in front of it, and shade each vertex by how its
  // normal meets that light: facing it up to twice the base light, turned away down to 70% of
  // it (the curve of their tables of shade by normal). Here the light comes from above the
  // viewer, so that whichever side is turned to the camera is the side lit.
  vec3 n = normalize(normalMatrix * normal);
  float d = dot(n, normalize(vec3(0.0, 1.0, 1.0)));
  vShade = 0.5 * (d < 0.0 ? 1.0 + d * (13.0 / 44.0) : 1.0 + d);
  gl_Position = projection * modelView * vec4(position, 1.0);
}
)";

const char* const kFragmentShader = R"(#version 120
uniform sampler2D tex;
uniform float textured;
varying vec2 vTex;
varying float vShade;
void main() {
  vec3 t = textured > 0.5 ? texture2D(tex, vTex).rgb : vec3(1.0);
  gl_FragColor = vec4(min(t * vShade, vec3(1.0)), 1.0);
}
)";

enum Attribute { kPosition = 0, kTexCoord = 1, kNormal = 2 };
constexpr int kFloatsPerCorner = 8;  // x y z, s t, normal

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
  if (!m_glReady) return;
  m_glReady = false;
  m_skinDirty = m_frameDirty = true;
  // Called from the context's own signal, or from the destructor while the widget still has it.
  QOpenGLContext* ctx = context();
  if (ctx && isValid()) {
    makeCurrent();
    if (m_texture) glDeleteTextures(1, &m_texture);
    if (m_buffer) glDeleteBuffers(1, &m_buffer);
  }
  m_texture = m_buffer = 0;
  m_corners = 0;
  delete m_program;  // its shaders go with the context
  m_program = nullptr;
  if (ctx && isValid()) doneCurrent();
}

void CGLView::SetModel(ModelData model, bool loaded, bool keepCamera) {
  m_model = std::move(model);
  m_modelLoaded = loaded;
  m_currentFrame = 0;
  m_currentAnimation = 0;
  m_animationCount = static_cast<int>(m_model.animations.size());
  m_frameCount = m_animationCount > 0 ? static_cast<int>(m_model.animations.front().frames.size()) : 0;
  m_bounds = BoundsOf(m_model);
  m_frameDirty = true;
  if (keepCamera) Redraw();
  else ResetView();
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
  m_frameDirty = true;
  emit animationChanged(index);
  emit frameChanged(m_currentFrame);
  Redraw();
}

void CGLView::SetFrame(int frame) {
  if (m_frameCount <= 0) return;
  m_currentFrame = std::clamp(frame, 0, m_frameCount - 1);
  m_frameDirty = true;
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
  initializeOpenGLFunctions();
  // Deleting the GL objects needs the context that made them, current, before it goes.
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &CGLView::FreeGL, Qt::UniqueConnection);
  m_program = new QOpenGLShaderProgram;
  m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
  m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
  m_program->bindAttributeLocation("position", kPosition);
  m_program->bindAttributeLocation("texCoord", kTexCoord);
  m_program->bindAttributeLocation("normal", kNormal);
  if (!m_program->link()) {
    qWarning("The model view's shaders do not build: %s", qPrintable(m_program->log()));
    delete m_program;
    m_program = nullptr;
  }
  glGenTextures(1, &m_texture);
  glBindTexture(GL_TEXTURE_2D, m_texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glGenBuffers(1, &m_buffer);
  glDepthFunc(GL_LESS);
  glEnable(GL_DEPTH_TEST);
  // Opaque: the widget is composited into the window, where a clear alpha would show through.
  glClearColor(0, 0, 0, 1);
  m_glReady = true;
  m_skinDirty = m_frameDirty = true;
}

void CGLView::resizeGL(int w, int h) {
  // A window squeezed to no height keeps the projection it had.
  if (w < 0 || h <= 0) return;
  m_aspect = static_cast<double>(w) / h;
  // Until the user moves the camera, the model keeps filling the view as the window's shape
  // settles (or the user resizes it).
  if (m_framed) m_distance = FramingDistance();
}

void CGLView::UploadSkin() {
  m_skinDirty = false;
  m_skinShown = false;
  if (!m_texture) return;
  if (m_currentSkin < 0 || m_currentSkin >= static_cast<int>(m_model.skins.size())) return;
  const ModelSkin& skin = m_model.skins[static_cast<std::size_t>(m_currentSkin)];
  // Never more than the pixels hold: the driver would read past them.
  if (skin.pixels.empty() || skin.paddedWidth <= 0 || skin.paddedHeight <= 0 ||
      skin.pixels.size() < static_cast<std::size_t>(skin.paddedWidth) * static_cast<std::size_t>(skin.paddedHeight) * 3)
    return;
  glBindTexture(GL_TEXTURE_2D, m_texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, skin.paddedWidth, skin.paddedHeight, 0, GL_RGB, GL_UNSIGNED_BYTE,
               skin.pixels.data());
  m_skinShown = true;
}

void CGLView::UploadFrame() {
  m_frameDirty = false;
  const std::vector<FrameCorner> corners = BuildFrameGeometry(m_model, m_currentAnimation, m_currentFrame);
  std::vector<float> data;
  data.reserve(corners.size() * kFloatsPerCorner);
  for (const FrameCorner& c : corners)
    data.insert(data.end(), {c.x, c.y, c.z, static_cast<float>(c.s), static_cast<float>(c.t), c.nx, c.ny, c.nz});
  glBindBuffer(GL_ARRAY_BUFFER, m_buffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(data.size() * sizeof(float)), data.data(), GL_DYNAMIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  m_corners = static_cast<int>(corners.size());
}

void CGLView::paintGL() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!m_glReady || !m_program) return;
  if (m_skinDirty) UploadSkin();
  if (m_frameDirty) UploadFrame();
  if (m_corners == 0) return;
  // Near and far planes hug the model's sphere wherever the camera is, so that no distance
  // clips it and the depth buffer's precision is spent on the model.
  const double radius = m_bounds.Radius();
  QMatrix4x4 projection;
  projection.perspective(static_cast<float>(kFieldOfView), static_cast<float>(m_aspect),
                         static_cast<float>(std::max(0.5, (m_distance - radius) / 2)),
                         static_cast<float>(m_distance + 2 * radius + 10));
  QMatrix4x4 modelView;
  modelView.translate(static_cast<float>(m_panX), static_cast<float>(m_panY), static_cast<float>(-m_distance));
  modelView.rotate(static_cast<float>(m_yaw), 0, 1, 0);
  modelView.rotate(static_cast<float>(m_pitch), 1, 0, 0);
  modelView.rotate(static_cast<float>(m_roll), 0, 0, 1);
  if (!m_bounds.empty) modelView.translate(-m_bounds.Center(0), -m_bounds.Center(1), -m_bounds.Center(2));

  m_program->bind();
  m_program->setUniformValue("projection", projection);
  m_program->setUniformValue("modelView", modelView);
  m_program->setUniformValue("normalMatrix", modelView.normalMatrix());
  m_program->setUniformValue("tex", 0);
  m_program->setUniformValue("textured", m_skinShown ? 1.0f : 0.0f);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, m_texture);
  glBindBuffer(GL_ARRAY_BUFFER, m_buffer);
  constexpr GLsizei kStride = kFloatsPerCorner * sizeof(float);
  glEnableVertexAttribArray(kPosition);
  glEnableVertexAttribArray(kTexCoord);
  glEnableVertexAttribArray(kNormal);
  glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, kStride, nullptr);
  glVertexAttribPointer(kTexCoord, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(3 * sizeof(float)));
  glVertexAttribPointer(kNormal, 3, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(5 * sizeof(float)));
  glDrawArrays(GL_TRIANGLES, 0, m_corners);
  glDisableVertexAttribArray(kPosition);
  glDisableVertexAttribArray(kTexCoord);
  glDisableVertexAttribArray(kNormal);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  m_program->release();
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

// The import dialog's converted model (dialogs/ModelImportDialog), drawn by this view, playing
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
