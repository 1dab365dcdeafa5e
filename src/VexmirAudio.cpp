// Reset and the audio callback's timing work: transport edges, queued MIDI, all notes off after a reset, the
// host tempo and the MIDI indicators' time-outs. The plug-in produces no sound.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/JackOwner.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"

namespace {
// The arpeggiator tempo parameter is an index into the tempo list, whose first entry is 20 BPM (the program
// dump codes the tempo as index + 20 too).
constexpr int kArpTempoOffset = 20;

int toIntClamped(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;  // NaN too
  if (v > hi) return hi;
  return static_cast<int>(v);
}
}  // namespace

// The delay the host's buffer adds to the MIDI sent through it; MIDI sent straight to the port has none.
void Vexmir::showMidiOutDelay() {
  if (!GetGUI()) return;
  if (!midiOutViaAudioQueue) {
    displayMIDIOutDelay("0ms|direct");
    return;
  }
  if (!(sampleRate > 0.0)) return;
  const int steps = queueStepsPerBlock < 1 ? 1 : queueStepsPerBlock;
  char text[64];
  std::snprintf(text, sizeof text, "%dms|%dbfr", toIntClamped(1000.0 / (sampleRate / steps), 0, 1000000),
                GetBlockSize());
  displayMIDIOutDelay(text);
}

void Vexmir::Reset() {
  KIT_MutexLock lock(mMutex);
  double rate = GetSampleRate();
  if (rate != sampleRate) sampleRate = rate;
  int block = GetBlockSize();
  {
    std::lock_guard<std::mutex> qlock(midiQueueLock);
    if (block > 0) midiQueue.Resize(block);
  }
  allSoundsOffPending = true;
  if (queueStepsPerBlock == 0) queueStepsPerBlock = block;

  char version[64];
  GetEffectVersionStr(version);
  char rateText[64];
  std::snprintf(rateText, sizeof rateText, "%g", sampleRate);
  log(std::string("RESET: Host sample rate ") + rateText + "Hz");
  log(std::string("RESET: plug-in ") + version);

  if (!deviceBusy) {
    displayStatus("Korg Vexmir Plug-in");
    displayValue(std::string(version) + (isDebugLogOn() ? " 10-Oct-2020" : ""));
    displayTimbre(static_cast<int>(paramValue(kQuickTab)) != 0 ? "[TIMBRE 2]" : "[TIMBRE 1]");
    displayBuild(version);
    displayCC("---");
    // A host's engine that reconnects resets the plug-in: the ports a server's end closed are still the project's.
    if (const char* problem = midiSystemProblem())
      displayStatus(problem);
    else if (awaitingServer)
      displayStatus(noOutputText().c_str());
  }
  showMidiOutDelay();
}

void Vexmir::OnGUIOpen() {
  if (const char* problem = midiSystemProblem())
    displayStatus(problem);
  else if (awaitingServer)
    displayStatus(noOutputText().c_str());
}

void Vexmir::OnGUIClose() {
  // Nothing stands any more (the close ended it): a recall handed over to the editor's thread is carried out now.
  finishHandedOverRecall();
}

void Vexmir::ProcessDoubleReplacing(double**, double**, int nFrames) {
  // The binding holds the plug-in mutex already; taking it here keeps its order before the queue's lock for any
  // caller.
  KIT_MutexLock lock(mMutex);
  GetTime(&timeInfo);
  if (!midiOutReady) return;
  const bool running = timeInfo.mTransportIsRunning;

  bool deferred = recallSendPending.load();
  if (running && !transportWasRunning) {
    transportWasRunning = true;
    if (!midiOutViaAudioQueue && !clockStartSent) {
      clockStopRequested = false;
      clockStartRequested = true;
      deferred = true;
      clockStartSent = true;
    }
  } else if (!running && transportWasRunning) {
    transportWasRunning = false;
    if (!midiOutViaAudioQueue && clockStartSent) {
      clockStartRequested = false;
      clockStopRequested = true;
      deferred = true;
      clockStartSent = false;
    }
  }

  // A loop that was told to stop may still be winding down: the clock starts again only once its thread is
  // free, so that a block right after the switch-off cannot re-arm the old loop before it has seen the stop.
  if (!continuousClockStarted && midiManager && !midiManager->isWorkerBusy(MidiWorker::kClockThread)) {
    continuousClockRequested = true;
    deferred = true;
    continuousClockStarted = true;
  }

  if (paramValue(kOverrideTempo) == 1.0) {
    const int t = toIntClamped(GetTempo(), 0, 100000);
    const int v = std::max(0, t - kArpTempoOffset);
    if (v != lastHostTempoValue) {
      lastHostTempoValue = v;
      hostTempoSynced = false;
      log("PROCESSOR: Host tempo is out of sync!");
    }
    if (!hostTempoSynced) {
      hostTempoSynced = true;
      log("PROCESSOR: Host tempo synced to " + std::to_string(t) + "BPM");
      if (IGraphics* g = GetGUI())
        g->SetParameterFromPlug(kArpTempo, v, false);
      else
        storeParamValue(kArpTempo, v);
    }
  }

  int steps = nFrames;
  if (midiOutViaAudioQueue) {
    steps = queueStepsPerBlock < 1 ? 1 : queueStepsPerBlock;
    showMidiOutDelay();
  }

  IGraphics* g = GetGUI();
  // The queue's lock is held by others only for a copy; a block that finds it taken, or the output port taken by
  // a port operation, leaves the queue as it is for the next block.
  std::unique_lock<std::mutex> qlock(midiQueueLock, std::try_to_lock);
  if (qlock.owns_lock()) {
    bool portBusy = false;
    for (int i = 0; i < steps && !portBusy; ++i) {
      while (!midiQueue.Empty() && midiQueue.Peek()->mOffset <= i) {
        if (midiOutViaAudioQueue && midiOutReady) {
          IMidiMsg* msg = midiQueue.Peek();
          if (TrySendMidiMsgNow(msg) == kSendBusy) {
            portBusy = true;
            break;
          }
          if (!trackIncomingMidi) lightMidiLed(timbreOfChannel(msg->Channel()));
        }
        midiQueue.Remove();
      }
      if (portBusy) break;
      if (!running && allSoundsOffPending) {
        allSoundsOffPending = false;
        if (midiOutViaAudioQueue) {
          allNotesOff(true);
        } else if (midiOutReady && !connectPending) {
          // Sent directly, a timbre's all notes off that finds the output port taken goes from the relay's thread.
          for (int t = 0; t < 2; ++t) {
            IMidiMsg msg;
            msg.MakeControlChangeMsg(kAllNotesOff, 0.0, timbreChannel(t));
            if (TrySendMidiMsgNow(&msg) == kSendBusy) {
              allNotesOffOwed |= 1 << t;
              deferred = true;
            }
          }
        }
        for (int t = 0; t < 2; ++t)
          if (midiLedOn[t]) {
            midiLedOn[t] = 0;
            if (g) g->SetParameterFromPlug(kMIDILed + t, 0.0, false);
          }
      }
      if (g) {
        for (int t = 0; t < 2; ++t) {
          if (!midiLedOn[t]) continue;
          // Unsigned arithmetic, so the wrap of the tick counter is harmless.
          if (static_cast<uint32_t>(ticks() - midiLedTime[t]) > 100u) {
            midiLedOn[t] = 0;
            g->SetParameterFromPlug(kMIDILed + t, 0.0, false);
          }
        }
      }
    }
    if (!portBusy) midiQueue.Flush(steps);
  }
  qlock = {};

  if (partRequestPending) {
    partRequestRequested = true;
    deferred = true;
  }
  if (deferred) GetHostCallRelay().requestDeferredWork();
}

void Vexmir::RunDeferredWork() {
  // A close of the instance ends the relay's waits for the MIDI system (the close waits for the relay).
  const jackowner::GiveUpWhen closing(midiWaitsGivenUp());
  closePortsOfEndedServer();
  // Work a busy JACK server had not answered in time is taken up again, after what was handed over before it.
  if (takeMidiLate()) {
    if (awaitingServer)
      reopenAwaitedPorts();
    else
      refreshPortMenus();
  }
  // The port choices first: a job started below may need the port.
  for (int idx : {kDeviceInSelection, kDeviceOutSelection})
    if (portChoiceRequested[idx == kDeviceOutSelection].exchange(false)) openChosenPort(idx);

  KIT_MutexLock lock(mMutex);
  if (const int owed = allNotesOffOwed.exchange(0); owed && midiOutReady && !connectPending)
    for (int t = 0; t < 2; ++t)
      if (owed & (1 << t)) {
        IMidiMsg msg;
        msg.MakeControlChangeMsg(kAllNotesOff, 0.0, timbreChannel(t));
        sendMidiMsgAndLog(&msg);
      }
  if (!midiManager) return;
  auto start = [this](MidiWorker worker, int code) {
    if (midiManager->isWorkerBusy(worker)) return;
    SenderJob job;
    job.job = code;
    job.tempo = 120;
    midiManager->startJob(worker, job);
  };
  // A start or stop the clock's control thread could not take is dropped, as when the block itself found it busy.
  if (clockStartRequested.exchange(false)) start(MidiWorker::kClockControlThread, kJobStartClock);
  if (clockStopRequested.exchange(false)) start(MidiWorker::kClockControlThread, kJobStopClock);
  if (continuousClockRequested.exchange(false)) {
    // The old loop is still winding down: the next block asks again.
    if (midiManager->isWorkerBusy(MidiWorker::kClockThread)) {
      continuousClockStarted = false;
    } else {
      midiManager->getSender()->resetContinuousClock(false);
      start(MidiWorker::kClockThread, kJobContinuousClock);
    }
  }
  if (recallSendPending && !midiManager->isWorkerBusy(MidiWorker::kJobThread)) startPendingRecallSend();
  // The randomized program's request is the audio callback's to start (a job's end does not start it).
  if (partRequestRequested.exchange(false) && partRequestPending &&
      !midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
    SenderJob job;
    job.job = kJobPartRequest;
    job.toEditor = true;
    if (midiManager->startJob(MidiWorker::kJobThread, job)) partRequestPending = false;
  }
}
