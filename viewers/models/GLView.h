// The OpenGL view of a model: draws the current frame of the current animation with the
// current skin, textured and shaded by the vertices' normals as the games shade models, from a
// vertex buffer through the map view's kind of shaders, under a camera that the mouse and keys
// move. The camera turns
// about the centre of the model's box over all frames, and starts (and Reset View puts it) where
// that whole box fills the view.
#pragma once

#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include "models/Model.h"

class QOpenGLShaderProgram;
class QTimer;

namespace tarn::viewers {

class CGLView : public QOpenGLWidget, protected QOpenGLFunctions {
  Q_OBJECT
 public:
  explicit CGLView(QWidget* parent = nullptr);
  ~CGLView() override;

  // Takes a loaded model; an empty one shows a black view. keepCamera: the same model changed
  // (a skin replaced, a frame renamed), seen as it was.
  void SetModel(ModelData model, bool loaded, bool keepCamera = false);
  const ModelData& Model() const { return m_model; }
  bool ModelLoaded() const { return m_modelLoaded; }

  void SelectSkin(int index, bool redraw);
  void SelectAnimation(int index);
  void SetFrame(int frame);
  void Play();
  void Stop();
  bool IsPlaying() const;

  // Camera and frame commands.
  void ResetView();
  void ZoomIn();
  void ZoomOut();
  void Move(double dx, double dy);
  void Rotate(double dyaw);
  void FirstFrame() { SetFrame(0); }
  void PreviousFrame() { SetFrame(std::max(0, m_currentFrame - 1)); }
  void NextFrame() { SetFrame(std::min(m_frameCount - 1, m_currentFrame + 1)); }
  void LastFrame() { SetFrame(m_frameCount - 1); }

  int CurrentFrame() const { return m_currentFrame; }
  int CurrentAnimation() const { return m_currentAnimation; }
  int FrameCount() const { return m_frameCount; }
  int AnimationCount() const { return m_animationCount; }
  int CurrentSkin() const { return m_currentSkin; }
  double Yaw() const { return m_yaw; }
  double Pitch() const { return m_pitch; }
  double Roll() const { return m_roll; }
  double Distance() const { return m_distance; }
  double PanX() const { return m_panX; }
  double PanY() const { return m_panY; }
  int RedrawRequests() const { return m_redraws; }
  const ModelBounds& Bounds() const { return m_bounds; }
  // The distance at which the model's box over all frames fills the view in the current turn.
  double FramingDistance() const;
  static constexpr double kFieldOfView = 30.0;  // degrees, vertical
  static constexpr int kAnimationIntervalMs = 150;

 signals:
  void playingChanged(bool playing);
  void frameChanged(int frame);
  void animationChanged(int animation);

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 public:
  // The texture object the skin is drawn from, a name in this view's own context; 0 before the
  // first skin is shown.
  unsigned TextureObject() const { return m_texture; }

 private:
  void ApplyCamera();  // and ask for a repaint
  void MoveCamera();   // the user moved it: a resize no longer frames the model
  void Redraw();
  void UploadSkin();
  void UploadFrame();
  // Frees the view's GL objects in the context they were made in, with that context current;
  // called before the context goes (a view moved to another window gets a new one) and with
  // the view.
  void FreeGL();

  ModelData m_model;
  bool m_modelLoaded = false;
  double m_yaw = 225, m_pitch = 270, m_roll = 0, m_distance = 100, m_panX = 0, m_panY = 0;
  ModelBounds m_bounds;
  bool m_framed = true;  // the camera is where framing put it
  double m_aspect = 4.0 / 3.0;
  int m_lastMouseX = 0, m_lastMouseY = 0;
  bool m_mouseSeen = false;
  int m_currentFrame = 0, m_currentAnimation = 0, m_frameCount = 1, m_animationCount = 1, m_currentSkin = -1;
  bool m_skinDirty = false, m_frameDirty = true;
  bool m_skinShown = false;  // the texture holds the current skin
  // The view's own GL objects, made in its context: every view (a preview and any number of
  // viewers) draws from its own, never from the default texture another context also fills.
  bool m_glReady = false;
  unsigned m_texture = 0, m_buffer = 0;
  int m_corners = 0;  // in the buffer
  QOpenGLShaderProgram* m_program = nullptr;
  int m_redraws = 0;
  QTimer* m_timer;
};

}  // namespace tarn::viewers
