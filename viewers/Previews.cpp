#include "viewers/Previews.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTextDocument>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "archive/PackObject.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "maps/Bsp.h"
#include "models/Model.h"
#include "sounds/SoundInfo.h"
#include "viewers/BitmapViewer.h"
#include "viewers/HexView.h"
#include "viewers/Sound.h"
#include "viewers/SoundWave.h"
#include "viewers/TextViewer.h"
#include "viewers/maps/MapView.h"
#include "viewers/models/GLView.h"

namespace tarn::viewers {

using dialogs::Q;

void CPreview::SetDetails(InfoLines details) {
  m_details = std::move(details);
  emit detailsChanged();
}

// --- message ---

CMessagePreview::CMessagePreview(const QString& text, QWidget* parent) : CPreview(parent) {
  setObjectName("previewMessage");
  auto* label = new QLabel(text, this);
  label->setObjectName("previewMessageText");
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignCenter);
  label->setTextFormat(Qt::PlainText);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
}

// --- archives ---

CArchivePreview::CArchivePreview(const std::vector<ListedFile>& files, const QString& format, QWidget* parent)
    : CPreview(parent) {
  setObjectName("previewArchive");
  auto* list = new QTreeWidget(this);
  list->setObjectName("previewArchiveList");
  list->setColumnCount(2);
  list->setHeaderLabels({"Name", "Size"});
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(files.size()));
  for (const ListedFile& f : files) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(f.path), QLocale().formattedDataSize(f.size)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    items << item;
  }
  list->addTopLevelItems(items);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list->header()->setStretchLastSection(false);
  auto* note = new QLabel(
      QString("%1 holding %2 file%3. Enter opens it.").arg(format).arg(files.size()).arg(files.size() == 1 ? "" : "s"),
      this);
  note->setObjectName("previewArchiveNote");
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(note);
  layout->addWidget(list, 1);
  SetDetails({{"Format", format.toStdString()}, {"Files", std::to_string(files.size())}});
}

// --- pictures ---

namespace {
constexpr int kMinZoomStep = -3, kMaxZoomStep = 5;  // an eighth to 32 times
}

CPicturePreview::CPicturePreview(PictureSet pictures, QWidget* parent) : CPreview(parent) {
  setObjectName("previewPicture");
  m_images = ToImages(pictures);
  m_view = new CBitmapViewerView(m_images);
  m_scroll = new QScrollArea(this);
  m_scroll->setObjectName("previewScroll");
  m_scroll->setWidgetResizable(true);
  m_scroll->setFrameShape(QFrame::NoFrame);
  m_scroll->setBackgroundRole(QPalette::Shadow);
  m_scroll->setWidget(m_view);
  m_scroll->viewport()->installEventFilter(this);
  m_view->installEventFilter(this);
  m_fit = new QCheckBox("&Fit", this);
  m_fit->setObjectName("previewFit");
  m_fit->setToolTip("Fit the picture to the pane, or show it at its own size (Ctrl+wheel zooms)");
  m_zoom = new QLabel(this);
  m_zoom->setObjectName("previewZoom");
  auto* bar = new QHBoxLayout;
  bar->addWidget(m_fit);
  bar->addStretch(1);
  bar->addWidget(m_zoom);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(bar);
  layout->addWidget(m_scroll, 1);
  connect(m_fit, &QCheckBox::toggled, this, &CPicturePreview::SetFit);
  const bool fit = dialogs::ProfileInt("Viewers", "PreviewFit", 0) != 0;
  m_fit->setChecked(fit);
  SetFit(fit);
  SetDetails(DescribePictures(pictures));
}

void CPicturePreview::SetFit(bool fit) {
  m_view->SetFit(fit);
  if (m_fit->isChecked() != fit) m_fit->setChecked(fit);
  dialogs::WriteProfileInt("Viewers", "PreviewFit", fit ? 1 : 0);
  ShowZoom();
}

void CPicturePreview::ShowZoom() {
  m_zoom->setText(m_view->IsFit() ? QString() : QString("%1%").arg(std::lround(m_view->Zoom() * 100)));
}

void CPicturePreview::ZoomBy(int steps) {
  const int step =
      std::clamp(static_cast<int>(std::lround(std::log2(m_view->Zoom()))) + steps, kMinZoomStep, kMaxZoomStep);
  if (m_view->IsFit()) SetFit(false);
  m_view->SetZoom(std::ldexp(1.0, step));
  ShowZoom();
}

bool CPicturePreview::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (wheel->modifiers() & Qt::ControlModifier) {
      if (wheel->angleDelta().y() != 0) ZoomBy(wheel->angleDelta().y() > 0 ? 1 : -1);
      return true;
    }
  }
  return CPreview::eventFilter(watched, event);
}

// --- models ---

struct CModelPreview::Load {
  std::unique_ptr<CPackObject> copy;  // the model and its skins, owned by the worker until done
  CPackObject* model = nullptr;
  ModelData data;
  std::string error;
  bool ok = false;
  std::atomic<bool> done{false};
};

CModelPreview::CModelPreview(const CPackObject& entry, QWidget* parent) : CPreview(parent) {
  setObjectName("previewModel");
  m_pages = new QStackedLayout(this);
  m_message = new QLabel("Loading\u2026", this);
  m_message->setObjectName("previewLoading");
  m_message->setAlignment(Qt::AlignCenter);
  m_message->setWordWrap(true);
  m_pages->addWidget(m_message);
  m_poll = new QTimer(this);
  m_poll->setInterval(20);
  connect(m_poll, &QTimer::timeout, this, &CModelPreview::Poll);

  // The bytes are copied here; the worker reads only its copy, whatever happens to the archive.
  m_load = std::make_shared<Load>();
  m_load->copy = ModelWithItsSkins(entry, &m_load->model, &m_load->error);
  if (!m_load->copy) {
    m_load->done = true;
  } else {
    QThreadPool::globalInstance()->start([load = m_load] {
      CArchiveModelHost host(*load->model);
      load->ok = LoadModel(*load->model, load->data, host, &load->error);
      load->done = true;
    });
  }
  m_poll->start();
}

CModelPreview::~CModelPreview() = default;

bool CModelPreview::Loading() const { return !m_view && m_message->objectName() == "previewLoading"; }

void CModelPreview::Poll() {
  if (!m_load->done) return;
  m_poll->stop();
  std::shared_ptr<Load> load = std::move(m_load);
  if (!load->ok) {
    m_message->setObjectName("previewProblem");
    m_message->setText("The model cannot be shown: " + Q(load->error));
    return;
  }
  SetDetails(DescribeModel(load->data));
  // The first OpenGL view in a window makes Qt recreate the window's native surface, which
  // loses the keyboard: without this, Del or Ctrl+Z would do nothing after a model was shown.
  QWidget* top = window();
  if (top->isActiveWindow()) {
    QTimer::singleShot(0, top, [top, focus = QPointer<QWidget>(QApplication::focusWidget())] {
      if (!top->isActiveWindow()) top->activateWindow();
      if (focus) focus->setFocus();
    });
  }
  auto* page = new QWidget(this);
  m_view = new CGLView(page);
  m_view->setFocusPolicy(Qt::ClickFocus);
  m_animations = new QComboBox(page);
  m_animations->setObjectName("previewAnimation");
  for (const auto& a : load->data.animations) m_animations->addItem(Q(a.name));
  auto* play = new QPushButton("Play", page);
  play->setObjectName("previewModelPlay");
  auto* stop = new QPushButton("Stop", page);
  stop->setObjectName("previewModelStop");
  auto* row = new QHBoxLayout;
  row->addWidget(m_animations, 1);
  row->addWidget(play);
  row->addWidget(stop);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_view, 1);
  layout->addLayout(row);
  m_pages->addWidget(page);
  m_pages->setCurrentWidget(page);
  m_view->SetModel(std::move(load->data), true);
  connect(m_animations, &QComboBox::currentIndexChanged, m_view, [this](int i) {
    if (i >= 0) m_view->SelectAnimation(i);
  });
  connect(m_view, &CGLView::animationChanged, m_animations, [this](int i) {
    const QSignalBlocker block(m_animations);
    m_animations->setCurrentIndex(i);
  });
  connect(play, &QPushButton::clicked, m_view, &CGLView::Play);
  connect(stop, &QPushButton::clicked, m_view, &CGLView::Stop);
  auto follow = [play, stop](bool playing) {
    play->setEnabled(!playing);
    stop->setEnabled(playing);
  };
  connect(m_view, &CGLView::playingChanged, this, follow);
  m_view->Play();
  follow(m_view->IsPlaying());
}

// --- sounds ---

namespace {
// Enough of any sound the pane is shown for to find its length.
constexpr std::size_t kSoundBytes = std::size_t{64} << 20;
constexpr std::size_t kWaveformBytes = std::size_t{8} << 20;

QString Seconds(double s) { return QString("%1 s").arg(s, 0, 'f', 2); }
}  // namespace

CSoundPreview::CSoundPreview(CPackObject& entry, CSoundPlayer& player, TextSaver save, QWidget* parent)
    : CPreview(parent), m_entry(entry), m_player(player) {
  setObjectName("previewSound");
  std::vector<std::uint8_t> bytes;
  std::string why;
  SoundInfo info;
  const bool read = entry.CopyBytes(bytes, &why, kSoundBytes) && ReadSoundInfo(bytes, info, &why);
  auto* grid = new QGridLayout;
  int row = 0;
  auto add = [&](const QString& key, const QString& value, const char* name) {
    grid->addWidget(new QLabel(key + ":", this), row, 0);
    auto* label = new QLabel(value, this);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(label, row++, 1);
  };
  // The grid says the rest: the pane's properties repeat nothing of it.
  InfoLines details = {{"kind", "sound"}};
  if (read) {
    add("Format", Q(info.format), "soundFormat");
    add("Channels",
        info.channels == 1   ? "1 (mono)"
        : info.channels == 2 ? "2 (stereo)"
                             : QString::number(info.channels),
        "soundChannels");
    add("Rate", QString("%1 Hz").arg(info.rate), "soundRate");
    add("Length", info.frames ? Seconds(info.Seconds()) : QString("not known"), "soundLength");
    QString loop = "none";
    if (info.loopStart) {
      loop = QString("from sample %1 (%2)")
                 .arg(*info.loopStart)
                 .arg(Seconds(static_cast<double>(*info.loopStart) / info.rate));
      if (info.loopEnd) loop += QString(" to sample %1").arg(*info.loopEnd);
    }
    if (info.container == SoundInfo::Container::Wave) add("Loop", loop, "soundLoop");
  } else {
    add("Format", "not a sound Tarn can read: " + Q(why), "soundFormat");
  }
  m_play = new QPushButton("&Play", this);
  m_play->setObjectName("previewPlay");
  m_stop = new QPushButton("S&top", this);
  m_stop->setObjectName("previewStop");
  connect(m_play, &QPushButton::clicked, this, [this] {
    std::string error;
    if (!m_player.PlayEntry(m_entry, &error)) {
      m_play->setToolTip(Q(error));
      m_play->setEnabled(false);
    }
  });
  connect(m_stop, &QPushButton::clicked, &m_player, &CSoundPlayer::Stop);
  connect(&m_player, &CSoundPlayer::playing, this, &CSoundPreview::Follow);
  connect(&m_player, &CSoundPlayer::finished, this, &CSoundPreview::Follow);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_play);
  buttons->addWidget(m_stop);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  // Decoded here, on the window's thread: only a sound short enough to take no time.
  if (read && bytes.size() <= kWaveformBytes && info.Seconds() <= 120) {
    m_editor = new CLoopEditor(bytes, Q(entry.Name()), m_player, std::move(save), this);
    layout->addWidget(m_editor, 1);
  } else {
    layout->addStretch(1);
  }
  Follow();
  SetDetails(std::move(details));
}

void CSoundPreview::Follow() { m_stop->setEnabled(m_player.IsPlaying()); }

// --- maps ---

CMapPreview::CMapPreview(std::span<const std::uint8_t> bytes,
                         const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& lookup,
                         QWidget* parent)
    : CPreview(parent) {
  setObjectName("previewMap");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  BspMap map;
  std::string why;
  bool loaded = false;
  try {
    loaded = LoadBsp(bytes, map, &why);
  } catch (const std::bad_alloc&) {
    why = kNoMemoryForMap;
  }
  auto problem = [&] {
    auto* message = new QLabel("The map cannot be shown: " + Q(why), this);
    message->setObjectName("previewProblem");
    message->setWordWrap(true);
    layout->addWidget(message);
    SetDetails({{"kind", "map"}});
  };
  if (!loaded) {
    problem();
    return;
  }
  const std::string entities = std::to_string(std::count(map.entities.begin(), map.entities.end(), '{'));
  InfoLines details = {
      {"kind", "map"},
      {"format", std::string(BspGameName(map.header.format)) + " (" + BspFormatName(map.header.format) + ")"},
      {"faces", std::to_string(map.faces.size())},
      {"textures", std::to_string(map.textures.size())},
      {"entities", entities},
      {"lightmap", map.lighting.empty() ? "none" : "present"}};
  m_view = new CMapView(this);
  if (!m_view->SetMap(std::move(map), lookup)) {
    delete m_view;
    m_view = nullptr;
    why = kNoMemoryForMap;
    problem();
    return;
  }
  if (!m_view->MissingTextures().empty())
    details.push_back({"missing textures", std::to_string(m_view->MissingTextures().size())});
  layout->addWidget(m_view, 1);
  SetDetails(std::move(details));
}

// --- text and bytes ---

CTextPreview::CTextPreview(const std::vector<std::uint8_t>& bytes, bool asText, std::uint64_t whole, QWidget* parent,
                           const QString& name)
    : CPreview(parent), m_whole(whole <= bytes.size()) {
  setObjectName(asText ? "previewText" : "previewBytes");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  if (asText) {
    m_text = new CTextViewerView(TextForDisplay(bytes, &m_encoding), this, name);
    m_text->Text()->setObjectName("previewTextView");
    layout->addWidget(m_text, 1);
  } else {
    layout->addWidget(
        new CHexView(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                     this),
        1);
  }
  if (whole > bytes.size()) {
    auto* note =
        new QLabel(QString("The first %1 of %2 bytes; View shows them all.").arg(bytes.size()).arg(whole), this);
    note->setObjectName("previewCut");
    layout->addWidget(note);
  }
  SetDetails({{"kind", asText ? "text" : "file"}, {"size", std::to_string(whole)}});
}

void CTextPreview::OfferEditing(TextSaver save) {
  // Only a text shown whole can be saved whole; one with NUL bytes would save their pictures.
  if (!m_text || !m_whole || m_encoding.nul || !save) return;
  m_save = std::move(save);
  auto* row = new QHBoxLayout;
  auto* edit = new QCheckBox("&Edit", this);
  edit->setObjectName("previewEdit");
  auto* saveButton = new QPushButton("Save to &Archive", this);
  saveButton->setObjectName("previewSaveText");
  saveButton->setEnabled(false);
  m_editStatus = new QLabel(this);
  m_editStatus->setObjectName("previewEditStatus");
  row->addWidget(edit);
  row->addWidget(saveButton);
  row->addWidget(m_editStatus, 1);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
  QTextDocument* text = m_text->Text()->document();
  connect(edit, &QCheckBox::toggled, this, [this](bool on) { m_text->SetEditable(on); });
  connect(text, &QTextDocument::modificationChanged, saveButton, &QPushButton::setEnabled);
  connect(text, &QTextDocument::modificationChanged, this, &CPreview::changesChanged);
  connect(saveButton, &QPushButton::clicked, this, [this] {
    QString why;
    if (!SaveChanges(&why)) m_editStatus->setText("Not saved: " + why);
  });
}

bool CTextPreview::HasChanges() const { return m_save && m_text->Text()->document()->isModified(); }

bool CTextPreview::SaveChanges(QString* why) {
  if (!HasChanges()) return true;
  std::vector<std::uint8_t> bytes;
  if (!BytesOfText(m_text->Text()->toPlainText(), m_encoding, bytes, why) || !m_save(bytes, why)) return false;
  // The pane shows the entry afresh once the archive has the change; until then this says so.
  m_text->Text()->document()->setModified(false);
  m_editStatus->setText("Saved into the archive.");
  return true;
}

void CTextPreview::DropChanges() {
  if (m_save) m_text->Text()->document()->setModified(false);
}

}  // namespace tarn::viewers
