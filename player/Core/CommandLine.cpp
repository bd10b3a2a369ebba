#include "Core/CommandLine.h"

#include <QProcess>

#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

class TBuilder {
 public:
  explicit TBuilder(const QString& AProgram) {
    Line.Program = AProgram;
    Line.Text = QuoteIfSpaced(AProgram);
  }

  // A fragment of separate arguments, each shown through QuoteIfSpaced.
  void Add(const QStringList& AArguments) {
    for (const QString& arg : AArguments) Line.Text += QLatin1Char(' ') + QuoteIfSpaced(arg);
    Line.Arguments += AArguments;
  }

  // A fragment shown as the given text, passed as the given arguments.
  void Add(const QString& AText, const QStringList& AArguments) {
    Line.Text += QLatin1Char(' ') + AText;
    Line.Arguments += AArguments;
  }

  TPlayerCommandLine Line;
};

}  // namespace

TPlayerCommandLine BuildCommandLine(const TCommandLineInput& AInput) {
  const TPlayerSettings& s = AInput.Settings;
  TBuilder b(AInput.Program);

  b.Add({"-slave", "-identify"});
  b.Add({"-wid", QString::number(AInput.WindowId)});
  b.Add({"-colorkey", "0x101010"});
  b.Add({"-nokeepaspect", "-framedrop", "-autosync", "100", "-vf", "screenshot"});
  // Software scaling where the video output has no hardware scaler (plain X11): the picture
  // then fills the panel at any size, fullscreen included, rather than sitting at its own.
  b.Add({"-zoom"});
  if (!AInput.FontFile.isEmpty()) b.Add({"-font", AInput.FontFile});

  if (s.ReIndex) b.Add({"-idx"});
  if (s.SoftVol) b.Add({"-softvol", "-softvol-max", "1000"});
  // PriorityBoost has no MPlayer option on Linux ("-priority" is Windows only).
  if (AInput.VistaMode) b.Add({"-vo", "gl"});

  // Without a named output MPlayer picks its own: PulseAudio or PipeWire first, then ALSA's
  // default device. A raw hw device is only taken when the settings name a card beyond the
  // first, since a sound server usually holds card 0 and MPlayer would play nothing.
  if (s.AudioOut == 0) b.Add({"-nosound"});
  if (s.AudioOut == 1) b.Add({"-ao", "null"});
  if (s.AudioOut == 3 && s.AudioDev >= 1)
    b.Add({"-ao", QStringLiteral("alsa:device=hw=%1").arg(s.AudioDev)});
  if (AInput.AudioTrack >= 0 && s.AudioOut > 0) b.Add({"-aid", QString::number(AInput.AudioTrack)});
  if (AInput.SubtitleTrack >= 0) b.Add({"-sid", QString::number(AInput.SubtitleTrack)});

  switch (s.Aspect) {
    case 1:
      b.Add({"-aspect", "4:3"});
      break;
    case 2:
      b.Add({"-aspect", "16:9"});
      break;
    case 3:
      b.Add({"-aspect", "2.35"});
      break;
    default:
      break;
  }
  if (s.Postproc == 1) b.Add({"-autoq", "10", "-vf-add", "pp"});
  if (s.Postproc == 2) b.Add({"-vf-add", "pp=hb/vb/dr"});
  if (s.Deinterlace == 1) b.Add({"-vf-add", "lavcdeint"});
  if (s.Deinterlace == 2) b.Add({"-vf-add", "kerndeint"});

  // The extra text is the user's own command-line text: split as a shell would, no shell.
  if (!s.Params.isEmpty()) b.Add(s.Params, QProcess::splitCommand(s.Params));

  b.Add(AInput.Media.Text(), AInput.Media.Arguments());
  return b.Line;
}

}  // namespace tovamo::player
