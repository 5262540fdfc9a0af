// The OpenGL view of a compiled map: every face textured and lit from its first lightmap,
// drawn from vertex buffers made once by the rules the software renderer draws by (MapLook.h:
// which faces and sides, the texture levels and filtering, light, fences, liquids, sky,
// translucency), under a camera that flies through the map as the engines' default keys move a
// player (W and S or Up and Down move, A and D step aside, Left and Right turn; the right mouse
// button held looks about, the wheel sets the speed). The view owns its GL objects, made
// in its own context and freed there before that context goes. It draws into a window of its
// own held in the widget, not into a widget of the window: a widget drawn by OpenGL has the
// whole window composed again for each of its frames, which costs as much as the frame.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLFunctions>
#include <QVector3D>
#include <QWidget>
#include <functional>
#include <set>
#include <vector>

#include "maps/Bsp.h"
#include "maps/MapImages.h"
#include "maps/MapLook.h"
#include "maps/MapMesh.h"
#include "maps/MapModels.h"

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QWindow;

namespace tarn::viewers {

// The view knows no archive: whoever opens it hands in a lookup of the files beside the map.
using tarn::MapFileLookup;

// Why a map that loads is not shown when building it for drawing ran out of memory.
inline constexpr const char* kNoMemoryForMap = "there is not enough memory to make it ready for drawing";

class CMapSurface;

class CMapView : public QWidget, protected QOpenGLFunctions {
  Q_OBJECT
 public:
  enum class Mode { Textures, Lightmaps, Both, Wireframe };

  explicit CMapView(QWidget* parent = nullptr);
  ~CMapView() override;

  // Takes a loaded map; Quake II's WALs and the WADs a map names are asked of lookup. Puts the camera at the start.
  // False, the view left empty, when there is not the memory to make the map ready for drawing.
  bool SetMap(BspMap map, const MapFileLookup& lookup);
  // The engine's look (the default) or the plain one; takes effect at the next SetMap.
  void SetLook(const MapLook& look) { m_look = look; }
  const MapLook& Look() const { return m_look; }
  const BspMap& Map() const { return m_map; }
  const MapMesh& Mesh() const { return m_mesh; }
  // The textures neither the map nor the archive holds, drawn as a checkerboard.
  const std::vector<std::string>& MissingTextures() const { return m_images.missing; }

  void SetMode(Mode mode);
  Mode CurrentMode() const { return m_mode; }

  // Quake's angles: yaw about the up axis from +x, pitch positive looking down, in degrees.
  void SetCamera(const QVector3D& position, float yaw, float pitch);
  QVector3D Position() const { return m_position; }
  float Yaw() const { return m_yaw; }
  float Pitch() const { return m_pitch; }
  float Speed() const { return m_speed; }  // units a second
  // Puts the camera a little way back from the point, looking at it, and marks it with a box
  // of the given half sizes about it; a zero box marks nothing. Given a model, the model is
  // drawn, fullbright, and the box and the camera fit it instead. The camera stops short of the
  // first wall behind the point, so that it stays in the room it looks into, and turns to the
  // side of the point with the most room when its heading leaves too little.
  void LookAt(const QVector3D& point, const QVector3D& halfSize, MapModelMesh model = {});
  bool Marked() const { return m_marked; }
  bool MarkedWithModel() const { return !m_markModel.empty(); }
  // Moves the camera as if the movement keys had been held for seconds: x forward, y left,
  // z up, each -1, 0 or 1.
  void Fly(const QVector3D& direction, double seconds);
  // Moves and turns the camera as the keys held now would in seconds.
  void Step(double seconds);
  bool Moving() const { return !m_held.empty(); }
  static constexpr float kTurnSpeed = 140;  // degrees a second, as the engines turn
  int FramesDrawn() const { return m_frames; }
  // The view as it is now, drawn afresh at its size, shown or not.
  QImage grabFramebuffer();
  // The window the view draws into, which takes the keys and the mouse while it has the focus.
  QWindow* Surface() const;

 signals:
  // While the camera moves: the mean time between the last frames, in milliseconds, from the
  // first frame timed on; when it stops, the mean of its last frames once more, then -1.
  void frameTime(double milliseconds);
  // A frame was drawn and shown in the view's window.
  void frameSwapped();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  friend class CMapSurface;  // hands the window's events and frames to the view
  // The context, made on first use with the objects the view draws from; false when there can
  // be none. MakeCurrent makes it current on the window when it shows, else off screen.
  bool EnsureContext();
  bool MakeCurrent();
  void InitializeGL();
  // A frame into the window, shown; what paintGL is to a widget.
  void Render();
  // Draws the view into the bound framebuffer of width × height pixels.
  void Paint(int width, int height);
  void Redraw();  // a frame is asked of the window
  void Upload();
  void UploadSkyBox();
  void UploadModel();
  void FreeGL();
  void FrameSwapped();
  QVector3D HeldDirection() const;
  float HeldTurn() const;  // 1 to the left, -1 to the right
  void Stopped();

  BspMap m_map;
  MapMesh m_mesh;
  MapImages m_images;
  Mode m_mode = Mode::Both;
  MapLook m_look;
  MapShading m_shading;

  QVector3D m_position;
  float m_yaw = 0, m_pitch = 0, m_speed = 320;
  float m_aspect = 4.0f / 3.0f;
  bool m_marked = false;
  QVector3D m_markCentre, m_markHalf;
  MapModelMesh m_markModel;
  bool m_markModelUploaded = false;
  std::set<int> m_held;
  bool m_looking = false;
  QPointF m_lastMouse;
  QElapsedTimer m_moveClock;
  QElapsedTimer m_frameClock;
  std::vector<double> m_frameTimes;
  std::size_t m_framesShown = 0;  // the frame times the last figure said
  int m_frames = 0;

  CMapSurface* m_surface = nullptr;
  QOpenGLContext* m_context = nullptr;
  QOffscreenSurface* m_offscreen = nullptr;  // to draw and free with while the window does not show
  // GL objects of the view's own context; all zero while it has none.
  bool m_glReady = false, m_uploaded = false;
  QOpenGLShaderProgram* m_program = nullptr;
  QOpenGLShaderProgram* m_alphaProgram = nullptr;  // for `{` textures
  bool m_oneSided = true;
  unsigned m_vertexBuffer = 0, m_triangleBuffer = 0, m_outlineBuffer = 0;
  unsigned m_modelBuffer = 0, m_modelSkin = 0;
  std::vector<unsigned> m_textures;  // as m_images.images
  std::vector<unsigned> m_glows;     // as m_images.images: the fullbright texels, 0 for none
  unsigned m_black = 0;              // the glow of pictures without one
  unsigned m_skyBox = 0;             // Quake II's sky box (MapImages::skyBox), 0 without one
  std::vector<unsigned> m_lightPages;
};

}  // namespace tarn::viewers
