#include "viewers/maps/MapView.h"

#include <QKeyEvent>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <tuple>

#include "maps/MapEntities.h"
#include "maps/MapRender.h"

namespace tarn::viewers {

namespace {

constexpr float kFieldOfView = kMapFieldOfView;  // as the pictures tarn-pak draws
constexpr float kLookSpeed = 0.2f;               // degrees a pixel
constexpr std::size_t kFramesAveraged = 20;

// GLSL 1.20, which every desktop driver that Qt's widget runs on compiles (llvmpipe included).
const char* const kVertexShader = R"(#version 120
attribute vec3 position;
attribute vec2 texCoord;
attribute vec2 lightCoord;
uniform mat4 mvp;
varying vec2 vTex;
varying vec2 vLight;
varying vec3 vWorld;
void main() {
  vTex = texCoord;
  vLight = lightCoord;
  vWorld = position;
  gl_Position = mvp * vec4(position, 1.0);
}
)";

// Two builds of one fragment shader: only `{` textures get the one that may discard, since a
// shader that can discard a fragment keeps llvmpipe (and other drivers) from testing depth
// before shading it, and a map's walls hide most of what lies behind them.
// The light meets the texture as MapShade (formats/MapLook.h) has it, and the sky is MapSkyTexel's.
const char* const kFragmentShader = R"(
uniform sampler2D tex;
uniform sampler2D light;
uniform sampler2D glow;
uniform sampler2D skyFront;
uniform int mode;  // 0 textures, 1 lightmaps, 2 both, 3 one colour, 4 sky, 5 Quake II's sky box
uniform float skyBoxTile;
uniform float lightScale;
uniform float clampLightFirst;
uniform float alphaCut;
uniform float alpha;
uniform vec3 eye;
uniform vec4 color;
varying vec2 vTex;
varying vec2 vLight;
varying vec3 vWorld;
// Quake II's sky box along d from tex, the six pictures in one (MapImages::skyBox): the picture
// and place MapSkyBoxTexel and MapSkyBoxAtlasTexel (maps/MapLook.h, MapImages.h) give.
vec3 SkyBox(vec3 d) {
  vec3 a = abs(d);
  float side;
  vec3 uvd;
  if (a.x > a.y && a.x > a.z) {
    side = d.x < 0.0 ? 2.0 : 0.0;
    uvd = vec3(d.x < 0.0 ? d.y : -d.y, d.z, a.x);
  } else if (a.y > a.z && a.y > a.x) {
    side = d.y < 0.0 ? 3.0 : 1.0;
    uvd = vec3(d.y < 0.0 ? -d.x : d.x, d.z, a.y);
  } else {
    side = d.z < 0.0 ? 5.0 : 4.0;
    uvd = vec3(-d.y, d.z < 0.0 ? d.x : -d.x, a.z);
  }
  vec2 st = vec2(uvd.x / uvd.z + 1.0, 1.0 - uvd.y / uvd.z) * 0.5;
  st = clamp(st, vec2(0.5 / skyBoxTile), vec2(1.0 - 0.5 / skyBoxTile));
  vec2 cell = vec2(mod(side, 3.0), floor(side / 3.0));
  return texture2D(tex, (cell + st) / vec2(3.0, 2.0)).rgb;
}
void main() {
  if (mode == 3) {
    gl_FragColor = color;
    return;
  }
  if (mode == 4) {
    vec3 d = vWorld - eye;
    d.z *= 3.0;
    vec2 st = d.xy * (6.0 * 63.0 / length(d)) / 128.0;
    vec4 back = texture2D(tex, st);
    vec4 front = texture2D(skyFront, st);
    gl_FragColor = vec4(mix(back.rgb, front.rgb, front.a), 1.0);
    return;
  }
  if (mode == 5) {
    gl_FragColor = vec4(SkyBox(vWorld - eye), 1.0);
    return;
  }
  vec4 t = texture2D(tex, vTex);
#ifdef ALPHA_TEST
  if (!(t.a > alphaCut)) discard;
#endif
  vec3 l = texture2D(light, vLight).rgb * lightScale;
  if (clampLightFirst > 0.5) l = min(l, vec3(1.0));
  if (mode == 0) gl_FragColor = vec4(t.rgb, 1.0);
  else if (mode == 1) gl_FragColor = vec4(min(l, vec3(1.0)), 1.0);
  else gl_FragColor = vec4(min(t.rgb * l + texture2D(glow, vTex).rgb, vec3(1.0)), alpha);
}
)";

enum Attribute { kPosition = 0, kTexCoord = 1, kLightCoord = 2 };

QVector3D Forward(float yaw, float pitch) {
  const float y = yaw * static_cast<float>(M_PI) / 180, p = pitch * static_cast<float>(M_PI) / 180;
  return {std::cos(p) * std::cos(y), std::cos(p) * std::sin(y), -std::sin(p)};
}

}  // namespace

// The window the view draws into: its frames and input go to the view.
class CMapSurface : public QWindow {
 public:
  explicit CMapSurface(CMapView* view) : m_view(view) {
    setSurfaceType(QWindow::OpenGLSurface);
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    setFormat(format);
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::UpdateRequest) {
      m_view->Render();
      return true;
    }
    return QWindow::event(e);
  }
  void exposeEvent(QExposeEvent*) override {
    if (isExposed()) m_view->Render();
  }
  void keyPressEvent(QKeyEvent* e) override { m_view->keyPressEvent(e); }
  void keyReleaseEvent(QKeyEvent* e) override { m_view->keyReleaseEvent(e); }
  void focusOutEvent(QFocusEvent* e) override { m_view->focusOutEvent(e); }
  void mousePressEvent(QMouseEvent* e) override { m_view->mousePressEvent(e); }
  void mouseMoveEvent(QMouseEvent* e) override { m_view->mouseMoveEvent(e); }
  void mouseReleaseEvent(QMouseEvent* e) override { m_view->mouseReleaseEvent(e); }
  void wheelEvent(QWheelEvent* e) override { m_view->wheelEvent(e); }

 private:
  CMapView* m_view;
};

CMapView::CMapView(QWidget* parent) : QWidget(parent) {
  setObjectName("mapView");
  m_surface = new CMapSurface(this);
  QWidget* container = QWidget::createWindowContainer(m_surface, this);
  container->setObjectName("mapSurface");
  container->setFocusPolicy(Qt::StrongFocus);
  setFocusPolicy(Qt::StrongFocus);
  setFocusProxy(container);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(container);
}

CMapView::~CMapView() {
  FreeGL();
  delete m_context;
  m_context = nullptr;
}

bool CMapView::EnsureContext() {
  if (m_context) return m_glReady;
  m_context = new QOpenGLContext;
  m_context->setFormat(m_surface->requestedFormat());
  m_offscreen = new QOffscreenSurface(nullptr, this);
  if (m_context->create()) {
    m_offscreen->setFormat(m_context->format());
    m_offscreen->create();
    if (m_context->makeCurrent(m_offscreen)) InitializeGL();
  }
  if (!m_glReady) qWarning("The map view has no OpenGL context to draw with");
  return m_glReady;
}

bool CMapView::MakeCurrent() {
  if (!EnsureContext()) return false;
  return m_surface->isExposed() ? m_context->makeCurrent(m_surface) : m_context->makeCurrent(m_offscreen);
}

void CMapView::Redraw() { m_surface->requestUpdate(); }

QWindow* CMapView::Surface() const { return m_surface; }

void CMapView::Render() {
  if (!m_surface->isExposed() || !EnsureContext() || !m_context->makeCurrent(m_surface)) return;
  const qreal ratio = m_surface->devicePixelRatio();
  glBindFramebuffer(GL_FRAMEBUFFER, m_context->defaultFramebufferObject());
  Paint(static_cast<int>(m_surface->width() * ratio), static_cast<int>(m_surface->height() * ratio));
  m_context->swapBuffers(m_surface);
  emit frameSwapped();
  FrameSwapped();
}

QImage CMapView::grabFramebuffer() {
  const QSize size = this->size() * devicePixelRatio();
  if (size.isEmpty() || !MakeCurrent()) return {};
  QOpenGLFramebufferObject target(size, QOpenGLFramebufferObject::Depth);
  if (!target.bind()) return {};
  Paint(size.width(), size.height());
  QImage image = target.toImage();
  target.release();
  return image.convertToFormat(QImage::Format_RGB32);
}

bool CMapView::SetMap(BspMap map, const MapFileLookup& lookup) {
  m_map = std::move(map);
  bool built = true;
  try {
    m_images = DecodeMapImages(m_map, lookup, m_look);
    m_mesh = BuildMapMesh(m_map, MapTextureSizes(m_map, m_images), kMapPageSide, m_look);
  } catch (const std::bad_alloc&) {
    // Nothing half-made is kept: the memory goes back to the window, which stays usable.
    m_map = BspMap();
    m_images = MapImages();
    m_mesh = MapMesh();
    built = false;
  }
  m_shading = MapShadingOf(m_map, m_look);

  const MapCamera start = MapStartCamera(m_map);
  m_oneSided = MapDrawsOneSided(m_map);
  m_marked = false;
  m_markModel = {};
  SetCamera(QVector3D(start.position[0], start.position[1], start.position[2]), start.yaw, start.pitch);
  m_uploaded = false;
  Redraw();
  return built;
}

void CMapView::SetMode(Mode mode) {
  m_mode = mode;
  Redraw();
}

void CMapView::SetCamera(const QVector3D& position, float yaw, float pitch) {
  m_position = position;
  m_yaw = std::fmod(yaw, 360.0f);
  m_pitch = std::clamp(pitch, -89.0f, 89.0f);
  Redraw();
}

void CMapView::LookAt(const QVector3D& point, const QVector3D& halfSize, MapModelMesh model) {
  m_markModel = std::move(model);
  m_markModelUploaded = false;
  QVector3D centre = point, half = halfSize;
  if (!m_markModel.empty()) {
    const QVector3D mins(m_markModel.mins[0], m_markModel.mins[1], m_markModel.mins[2]),
        maxs(m_markModel.maxs[0], m_markModel.maxs[1], m_markModel.maxs[2]);
    // A little outside the model, so that the box's edges do not hide in its outline.
    centre = (mins + maxs) / 2;
    half = (maxs - mins) / 2 + QVector3D(2, 2, 2);
  }
  m_marked = half.lengthSquared() > 0;
  m_markCentre = centre;
  m_markHalf = half;
  // Back along the current heading and a little above, far enough that the box fits the view.
  const float pitch = 20;
  const float wanted = std::max(96.0f, half.length() * 2.5f);
  float distance = wanted, yaw = m_yaw;
  // In a small room that is through the wall behind: the camera stops a little before it, at
  // worst at the point itself, and looks from the side of the point with the most room when the
  // heading leaves too little.
  if (!m_mesh.empty) {
    const auto room = [&](float heading) {
      const QVector3D back = -Forward(heading, pitch);
      const float from[3] = {centre.x(), centre.y(), centre.z()}, along[3] = {back.x(), back.y(), back.z()};
      constexpr float kWallGap = 8;  // twice the near plane's distance
      return std::clamp(MapTraceToWall(m_mesh, from, along, wanted + kWallGap) - kWallGap, 0.0f, wanted);
    };
    distance = room(m_yaw);
    for (int k = 1; k < 8 && distance < wanted; ++k)
      if (const float d = room(m_yaw + 45.0f * static_cast<float>(k)); d > distance + 1)
        distance = d, yaw = m_yaw + 45.0f * static_cast<float>(k);
  }
  SetCamera(centre - Forward(yaw, pitch) * distance, yaw, pitch);
}

void CMapView::Fly(const QVector3D& direction, double seconds) {
  const QVector3D forward = Forward(m_yaw, m_pitch);
  const float y = m_yaw * static_cast<float>(M_PI) / 180;
  const QVector3D left(-std::sin(y), std::cos(y), 0);
  const QVector3D step = forward * direction.x() + left * direction.y() + QVector3D(0, 0, 1) * direction.z();
  m_position += step * m_speed * static_cast<float>(seconds);
  Redraw();
}

QVector3D CMapView::HeldDirection() const {
  QVector3D d;
  for (int key : m_held) switch (key) {
      case Qt::Key_W:
      case Qt::Key_Up: d += {1, 0, 0}; break;
      case Qt::Key_S:
      case Qt::Key_Down: d -= {1, 0, 0}; break;
      case Qt::Key_A: d += {0, 1, 0}; break;
      case Qt::Key_D: d -= {0, 1, 0}; break;
      case Qt::Key_Space:
      case Qt::Key_PageUp: d += {0, 0, 1}; break;
      case Qt::Key_C:
      case Qt::Key_PageDown: d -= {0, 0, 1}; break;
    }
  return d;
}

float CMapView::HeldTurn() const {
  return static_cast<float>(m_held.count(Qt::Key_Left)) - static_cast<float>(m_held.count(Qt::Key_Right));
}

void CMapView::Step(double seconds) {
  Fly(HeldDirection(), seconds);
  if (const float turn = HeldTurn(); turn != 0)
    SetCamera(m_position, m_yaw + turn * kTurnSpeed * static_cast<float>(seconds), m_pitch);
}

void CMapView::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_W:
    case Qt::Key_A:
    case Qt::Key_S:
    case Qt::Key_D:
    case Qt::Key_C:
    case Qt::Key_Space:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (!e->isAutoRepeat()) {
        if (m_held.empty()) {
          m_moveClock.start();
          m_frameClock.invalidate();
          m_frameTimes.clear();
          m_framesShown = 0;
        }
        m_held.insert(e->key());
        Redraw();
      }
      return;
    default: QWidget::keyPressEvent(e);
  }
}

void CMapView::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat() || !m_held.count(e->key())) {
    QWidget::keyReleaseEvent(e);
    return;
  }
  // The time since the last frame still counts: a short press moves the camera too.
  if (m_moveClock.isValid()) Step(std::min(m_moveClock.restart() / 1000.0, 0.1));
  m_held.erase(e->key());
  if (m_held.empty()) Stopped();
}

void CMapView::Stopped() {
  // The figure of the last frames stays said: a short move should not end on an older one.
  if (!m_frameTimes.empty() && m_framesShown != m_frameTimes.size())
    emit frameTime(std::accumulate(m_frameTimes.begin(), m_frameTimes.end(), 0.0) /
                   static_cast<double>(m_frameTimes.size()));
  emit frameTime(-1);
}

void CMapView::focusOutEvent(QFocusEvent* e) {
  // Keys released in another window never reach here.
  if (!m_held.empty()) {
    m_held.clear();
    Stopped();
  }
  m_looking = false;
  QWidget::focusOutEvent(e);
}

void CMapView::mousePressEvent(QMouseEvent* e) {
  setFocus(Qt::MouseFocusReason);
  if (e->button() == Qt::RightButton) {
    m_looking = true;
    m_lastMouse = e->position();
  }
}

void CMapView::mouseMoveEvent(QMouseEvent* e) {
  if (!m_looking || !(e->buttons() & Qt::RightButton)) return;
  const QPointF delta = e->position() - m_lastMouse;
  m_lastMouse = e->position();
  SetCamera(m_position, m_yaw - static_cast<float>(delta.x()) * kLookSpeed,
            m_pitch + static_cast<float>(delta.y()) * kLookSpeed);
}

void CMapView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) m_looking = false;
}

void CMapView::wheelEvent(QWheelEvent* e) {
  const float notches = static_cast<float>(e->angleDelta().y()) / 120;
  m_speed = std::clamp(m_speed * std::pow(1.25f, notches), 16.0f, 8192.0f);
  e->accept();
}

void CMapView::FrameSwapped() {
  if (m_held.empty()) return;
  if (m_frameClock.isValid()) {
    m_frameTimes.push_back(static_cast<double>(m_frameClock.nsecsElapsed()) / 1e6);
    if (m_frameTimes.size() > kFramesAveraged) m_frameTimes.erase(m_frameTimes.begin());
    // The first frame's time at once, then every few frames, so that the figure can be read.
    if (m_frameTimes.size() == 1 || m_frameTimes.size() % 5 == 0 || m_frameTimes.size() == kFramesAveraged) {
      m_framesShown = m_frameTimes.size();
      emit frameTime(std::accumulate(m_frameTimes.begin(), m_frameTimes.end(), 0.0) /
                     static_cast<double>(m_frameTimes.size()));
    }
  }
  m_frameClock.start();
  // While a key is held, one frame follows another as fast as they can be drawn.
  Redraw();
}

void CMapView::InitializeGL() {
  initializeOpenGLFunctions();
  const auto build = [](bool alphaTest) {
    auto* program = new QOpenGLShaderProgram;
    program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program->addShaderFromSourceCode(
        QOpenGLShader::Fragment,
        QByteArray("#version 120\n") + (alphaTest ? "#define ALPHA_TEST\n" : "") + kFragmentShader);
    program->bindAttributeLocation("position", kPosition);
    program->bindAttributeLocation("texCoord", kTexCoord);
    program->bindAttributeLocation("lightCoord", kLightCoord);
    if (!program->link()) {
      qWarning("The map view's shaders do not build: %s", qPrintable(program->log()));
      delete program;
      program = nullptr;
    }
    return program;
  };
  m_program = build(false);
  m_alphaProgram = build(true);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  m_glReady = m_program && m_alphaProgram;
  m_uploaded = false;
  m_markModelUploaded = false;
}

void CMapView::UploadModel() {
  m_markModelUploaded = true;
  if (!m_modelBuffer) glGenBuffers(1, &m_modelBuffer);
  if (!m_modelSkin) glGenTextures(1, &m_modelSkin);
  glBindBuffer(GL_ARRAY_BUFFER, m_modelBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_markModel.vertices.size() * sizeof(float)),
               m_markModel.vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glBindTexture(GL_TEXTURE_2D, m_modelSkin);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, m_markModel.skinWidth, m_markModel.skinHeight, 0, GL_RGB, GL_UNSIGNED_BYTE,
               m_markModel.skin.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void CMapView::Upload() {
  m_uploaded = true;
  if (!m_vertexBuffer) {
    GLuint b[3];
    glGenBuffers(3, b);
    m_vertexBuffer = b[0], m_triangleBuffer = b[1], m_outlineBuffer = b[2];
  }
  glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_mesh.vertices.size() * sizeof(MapMeshVertex)),
               m_mesh.vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_triangleBuffer);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_mesh.triangles.size() * 4), m_mesh.triangles.data(),
               GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_outlineBuffer);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_mesh.outlines.size() * 4), m_mesh.outlines.data(),
               GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);

  for (std::vector<unsigned>* list : {&m_textures, &m_glows, &m_lightPages}) {
    for (unsigned t : *list)
      if (t) glDeleteTextures(1, &t);
    list->clear();
  }
  if (m_black) glDeleteTextures(1, &m_black);
  // Only the textures some face draws from are made; the others stay 0.
  const std::vector<MapImage>& images = m_images.images;
  std::vector<bool> used(images.size(), false), sky(images.size(), false);
  for (const MapDrawGroup& g : m_mesh.groups) {
    used[m_images.ImageOf(g.texture)] = true;
    if (g.surface == MapSurface::Sky && g.texture >= 0 &&
        static_cast<std::size_t>(g.texture) < m_images.skyLayers.size())
      for (int layer : {m_images.skyLayers[static_cast<std::size_t>(g.texture)].first,
                        m_images.skyLayers[static_cast<std::size_t>(g.texture)].second})
        if (layer >= 0) sky[static_cast<std::size_t>(layer)] = used[static_cast<std::size_t>(layer)] = true;
  }
  m_textures.assign(images.size(), 0);
  m_glows.assign(images.size(), 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Each picture with the levels MapMipLevels makes, the ones the software renderer samples,
  // filtered as the look says; the sky's layers at their full size alone, as it samples them.
  const bool linear = m_shading.linear;
  const auto upload = [&](const MapImage& image, bool glow, bool levels) {
    GLuint t = 0;
    glGenTextures(1, &t);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 glow ? image.glow.data() : image.rgba.data());
    const std::vector<MapImage> mips = levels ? MapMipLevels(image) : std::vector<MapImage>();
    for (std::size_t k = 0; k < mips.size(); ++k)
      glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(k + 1), GL_RGBA, mips[k].width, mips[k].height, 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, glow ? mips[k].glow.data() : mips[k].rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(mips.size()));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(
        GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
        !levels ? (linear ? GL_LINEAR : GL_NEAREST) : (linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST));
    return t;
  };
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (!used[i]) continue;
    m_textures[i] = upload(images[i], false, !sky[i]);
    if (!images[i].glow.empty()) m_glows[i] = upload(images[i], true, true);
  }
  {
    MapImage black;
    black.width = black.height = 1;
    black.rgba = {0, 0, 0, 255};
    m_black = upload(black, false, false);
  }
  UploadSkyBox();
  m_lightPages.assign(m_mesh.pages.size(), 0);
  for (std::size_t i = 0; i < m_mesh.pages.size(); ++i) {
    GLuint t = 0;
    glGenTextures(1, &t);
    m_lightPages[i] = t;
    glBindTexture(GL_TEXTURE_2D, t);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, m_mesh.pageSide, m_mesh.pageSide, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 m_mesh.pages[i].rgb.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
}

// Quake II's sky box as one texture, its full size alone (the engine gives it no smaller
// levels), kept inside each picture by the shader so that clamping at the edge is enough.
void CMapView::UploadSkyBox() {
  if (m_skyBox) glDeleteTextures(1, &m_skyBox);
  m_skyBox = 0;
  const MapImage& box = m_images.skyBox;
  if (box.width <= 0 || box.height <= 0) return;
  GLuint t = 0;
  glGenTextures(1, &t);
  m_skyBox = t;
  glBindTexture(GL_TEXTURE_2D, t);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, box.width, box.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, box.rgba.data());
  const GLint filter = m_shading.linear ? GL_LINEAR : GL_NEAREST;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void CMapView::FreeGL() {
  if (!m_glReady) return;
  m_glReady = false;
  m_uploaded = false;
  m_markModelUploaded = false;
  if (!m_context || !m_context->makeCurrent(m_offscreen)) {
    m_vertexBuffer = m_triangleBuffer = m_outlineBuffer = m_modelBuffer = m_modelSkin = m_black = m_skyBox = 0;
    m_textures.clear();
    m_glows.clear();
    m_lightPages.clear();
    delete m_program;  // its shaders go with the context
    delete m_alphaProgram;
    m_program = m_alphaProgram = nullptr;
    return;
  }
  if (m_vertexBuffer) {
    const GLuint b[3] = {m_vertexBuffer, m_triangleBuffer, m_outlineBuffer};
    glDeleteBuffers(3, b);
  }
  m_vertexBuffer = m_triangleBuffer = m_outlineBuffer = 0;
  if (m_modelBuffer) glDeleteBuffers(1, &m_modelBuffer);
  if (m_modelSkin) glDeleteTextures(1, &m_modelSkin);
  m_modelBuffer = m_modelSkin = 0;
  for (std::vector<unsigned>* list : {&m_textures, &m_glows, &m_lightPages}) {
    for (unsigned t : *list)
      if (t) glDeleteTextures(1, &t);
    list->clear();
  }
  if (m_black) glDeleteTextures(1, &m_black);
  m_black = 0;
  if (m_skyBox) glDeleteTextures(1, &m_skyBox);
  m_skyBox = 0;
  delete m_program;
  delete m_alphaProgram;
  m_program = m_alphaProgram = nullptr;
  m_context->doneCurrent();
}

void CMapView::Paint(int width, int height) {
  if (!m_held.empty() && m_moveClock.isValid()) Step(std::min(m_moveClock.restart() / 1000.0, 0.1));
  ++m_frames;
  glViewport(0, 0, width, height);
  // A window squeezed to no height keeps the projection it had.
  if (width > 0 && height > 0) m_aspect = static_cast<float>(width) / static_cast<float>(height);
  glClearColor(m_shading.background[0] / 255.0f, m_shading.background[1] / 255.0f, m_shading.background[2] / 255.0f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!m_program || !m_alphaProgram || m_mesh.empty) return;
  if (!m_uploaded) Upload();

  // The far plane takes in the whole map from wherever the camera is.
  const QVector3D mins(m_mesh.mins[0], m_mesh.mins[1], m_mesh.mins[2]),
      maxs(m_mesh.maxs[0], m_mesh.maxs[1], m_mesh.maxs[2]);
  const float reach = (maxs - mins).length() + (m_position - (mins + maxs) / 2).length() + 64;
  QMatrix4x4 mvp;
  mvp.perspective(kFieldOfView, m_aspect, 4, std::max(reach, 1024.0f));
  // Quake's axes: x forward, y left, z up, turned into GL's looking down -z.
  mvp.rotate(-90, 1, 0, 0);
  mvp.rotate(90, 0, 0, 1);
  mvp.rotate(-m_pitch, 0, 1, 0);
  mvp.rotate(-m_yaw, 0, 0, 1);
  mvp.translate(-m_position);

  const int mode = m_mode == Mode::Textures ? 0 : m_mode == Mode::Lightmaps ? 1 : 2;
  for (QOpenGLShaderProgram* program : {m_alphaProgram, m_program}) {
    program->bind();
    program->setUniformValue("mvp", mvp);
    program->setUniformValue("tex", 0);
    program->setUniformValue("light", 1);
    program->setUniformValue("glow", 2);
    program->setUniformValue("skyFront", 3);
    program->setUniformValue("skyBoxTile", static_cast<float>(std::max(m_images.skyBoxSide, 1)));
    program->setUniformValue("lightScale", m_shading.lightScale);
    program->setUniformValue("clampLightFirst", m_shading.clampLightFirst ? 1.0f : 0.0f);
    // As the software renderer keeps a fence's texel (MapRender.cpp).
    program->setUniformValue("alphaCut", m_shading.linear ? 0.666f : 0.5f);
    program->setUniformValue("alpha", 1.0f);
    program->setUniformValue("eye", m_position);
    program->setUniformValue("mode", mode);
  }
  glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
  glEnableVertexAttribArray(kPosition);
  glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, sizeof(MapMeshVertex), nullptr);
  if (m_mode == Mode::Wireframe) {
    m_program->setUniformValue("mode", 3);
    m_program->setUniformValue("color", QVector4D(0.85f, 0.85f, 0.85f, 1));
    glDisable(GL_DEPTH_TEST);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_outlineBuffer);
    glDrawElements(GL_LINES, static_cast<GLsizei>(m_mesh.outlines.size()), GL_UNSIGNED_INT, nullptr);
    glEnable(GL_DEPTH_TEST);
  } else {
    glEnableVertexAttribArray(kTexCoord);
    glEnableVertexAttribArray(kLightCoord);
    glVertexAttribPointer(kTexCoord, 2, GL_FLOAT, GL_FALSE, sizeof(MapMeshVertex),
                          reinterpret_cast<const void*>(offsetof(MapMeshVertex, s)));
    glVertexAttribPointer(kLightCoord, 2, GL_FLOAT, GL_FALSE, sizeof(MapMeshVertex),
                          reinterpret_cast<const void*>(offsetof(MapMeshVertex, u)));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_triangleBuffer);
    if (m_oneSided) {
      // Quake's faces wind clockwise seen from the front, and this projection keeps GL's
      // counter-clockwise front: the side to drop is GL's front.
      glEnable(GL_CULL_FACE);
      glCullFace(GL_FRONT);
    }
    QOpenGLShaderProgram* bound = m_program;
    bool blending = false;
    for (const MapDrawGroup& g : m_mesh.groups) {
      const std::size_t image = m_images.ImageOf(g.texture);
      int skyBack = -1, skyFront = -1;
      if (g.surface == MapSurface::Sky && g.texture >= 0 &&
          static_cast<std::size_t>(g.texture) < m_images.skyLayers.size())
        std::tie(skyBack, skyFront) = m_images.skyLayers[static_cast<std::size_t>(g.texture)];
      const bool sky = skyBack >= 0 && skyFront >= 0 && m_mode != Mode::Lightmaps;
      const bool skyBox = g.surface == MapSurface::Sky && m_skyBox && m_mode != Mode::Lightmaps;
      glActiveTexture(GL_TEXTURE1);
      glBindTexture(GL_TEXTURE_2D, m_lightPages[static_cast<std::size_t>(g.page)]);
      glActiveTexture(GL_TEXTURE2);
      glBindTexture(GL_TEXTURE_2D, m_glows[image] ? m_glows[image] : m_black);
      glActiveTexture(GL_TEXTURE3);
      glBindTexture(GL_TEXTURE_2D, sky ? m_textures[static_cast<std::size_t>(skyFront)] : m_black);
      glActiveTexture(GL_TEXTURE0);
      glBindTexture(GL_TEXTURE_2D, skyBox ? m_skyBox
                                   : sky  ? m_textures[static_cast<std::size_t>(skyBack)]
                                          : m_textures[image]);
      QOpenGLShaderProgram* wanted =
          g.surface == MapSurface::Fence && m_mode != Mode::Lightmaps ? m_alphaProgram : m_program;
      if (wanted != bound) (bound = wanted)->bind();
      bound->setUniformValue("mode", skyBox ? 5 : sky ? 4 : mode);
      // Quake II's translucent faces come last, blended over what is drawn, behind none.
      const bool blend = g.alpha < 1 && m_mode == Mode::Both;
      bound->setUniformValue("alpha", blend ? g.alpha : 1.0f);
      if (blend != blending) {
        blending = blend;
        if (blend) {
          glEnable(GL_BLEND);
          glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
          glDepthMask(GL_FALSE);
        } else {
          glDisable(GL_BLEND);
          glDepthMask(GL_TRUE);
        }
      }
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(g.indexCount), GL_UNSIGNED_INT,
                     reinterpret_cast<const void*>(static_cast<std::uintptr_t>(g.firstIndex) * 4));
    }
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glActiveTexture(GL_TEXTURE0);
    if (bound != m_program) m_program->bind();
    glDisable(GL_CULL_FACE);
    glDisableVertexAttribArray(kTexCoord);
    glDisableVertexAttribArray(kLightCoord);
  }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);

  if (!m_markModel.empty()) {
    // The chosen entity's model, fullbright in every mode, and over the map as its box is: the
    // camera may stand behind a wall or a pillar, and the model should show what was chosen.
    // Its depth still sorts its own triangles.
    if (!m_markModelUploaded) UploadModel();
    glClear(GL_DEPTH_BUFFER_BIT);
    constexpr GLsizei kStride = 5 * sizeof(float);
    m_program->setUniformValue("mode", 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_modelSkin);
    glBindBuffer(GL_ARRAY_BUFFER, m_modelBuffer);
    glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, kStride, nullptr);
    glEnableVertexAttribArray(kTexCoord);
    glVertexAttribPointer(kTexCoord, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(3 * sizeof(float)));
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(m_markModel.vertices.size() / 5));
    glDisableVertexAttribArray(kTexCoord);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }

  if (m_marked) {
    // The selected entity's box: twelve edges from client memory, over everything.
    std::vector<QVector3D> lines;
    const QVector3D c = m_markCentre, h = m_markHalf;
    for (int a = 0; a < 3; ++a)
      for (int k = 0; k < 4; ++k) {
        QVector3D from = c, to = c;
        const int b = (a + 1) % 3, d = (a + 2) % 3;
        from[a] -= h[a], to[a] += h[a];
        from[b] += (k & 1 ? h[b] : -h[b]), to[b] = from[b];
        from[d] += (k & 2 ? h[d] : -h[d]), to[d] = from[d];
        lines.push_back(from);
        lines.push_back(to);
      }
    m_program->setUniformValue("mode", 3);
    m_program->setUniformValue("color", QVector4D(1, 0.85f, 0.1f, 1));
    glDisable(GL_DEPTH_TEST);
    glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), lines.data());
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(lines.size()));
    glEnable(GL_DEPTH_TEST);
  }
  glDisableVertexAttribArray(kPosition);
  m_program->release();
}

}  // namespace tarn::viewers
