#!/usr/bin/env python3
"""The editor's layout, written once: every section, control, label and binding of the editor.

Writes three files that are kept in the repository:
  resources/uiconfig.xml  the user-interface description (schema in resources/README.md)
  resources/sysex.xml     the SysEx templates of the SysEx-bound controls
  resources/layout.txt    the drawing list from which tools/vexmir-images draws the background and the tab
                          pages, so that every panel and label sits where its controls are

Run it after changing the layout:  python3 tools/vexmir-layout/make_resources.py
All positions are unscaled pixels of the 1500 x 667 editor.
"""

import os
import sys
from xml.sax.saxutils import quoteattr, escape

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

W, H = 1500, 667

# ---- the parameter table (tools/vexmir-layout/param-table.txt, printed by vexmir-param-table) -------------------
# Synthesizer parameters (program and global data) take their range and default from the table, so that the
# editor starts from the program codec's initial program and every value fits its field of the dumps.

TABLE = {}
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "param-table.txt")) as f:
    for row in f:
        i, name, lo, hi, default = row.split()
        TABLE[name] = (int(i), int(float(lo)), int(float(hi)), int(float(default)))


def table_entry(param):
    """(min, max, default) of a synthesizer parameter reference ("kX" or "kX+1"), or None for editor params."""
    base = param.split("+")[0]
    if base not in TABLE:
        raise KeyError(param)
    i, lo, hi, default = TABLE[base]
    if i <= 320 or 322 <= i <= 338:
        if "+" in param:  # the timbre-2 twin has the same record
            twin = [e for e in TABLE.values() if e[0] == i + int(param.split("+")[1])][0]
            return twin[1], twin[2], twin[3]
        return lo, hi, default
    return None


# ---- images (names of resources/ImageTable.inc) ------------------------------------------------------------

KNOB = ("KNOB_ID127", "knob-large.png", 40)
KNOB_BI = ("KNOB_BI_ID127", "knob-large-bipolar.png", 40)
KNOB_S = ("KNOB_SMALL_ID127", "knob-small.png", 30)
KNOB_S_BI = ("KNOB_SMALL_BI_ID127", "knob-small-bipolar.png", 30)
SWITCH = ("SWITCH_ID", "switch.png", 30, 16)
LED = ("LED_ID", "led.png", 12, 12)
LOCK = ("LOCK_ID", "lock.png", 16, 16)

IMAGE_FILES = {
    "TAB_LIBRARIAN_ID": "tab-librarian.png", "TAB_MODSEQ_ID": "tab-modseq.png", "TAB_GLOBAL_ID": "tab-global.png",
    "BUTTON_PREV_ID": "button-prev.png", "BUTTON_NEXT_ID": "button-next.png",
    "BUTTON_REQUEST_ID": "button-request.png", "BUTTON_SEND_ID": "button-send.png",
    "BUTTON_RANDOM_ID": "button-random.png", "BUTTON_STORE_ID": "button-store.png",
    "BUTTON_DISCARD_ID": "button-discard.png", "BUTTON_UNLOCK_ID": "button-unlock.png", "BUTTON_OK_ID": "button-ok.png",
}

# ---- value texts ---------------------------------------------------------------------------------------------

OFF_ON = ["Off", "On"]
SYNC_NOTES = ["1/32", "1/24", "1/16", "1/12", "3/32", "1/8", "1/6", "3/16", "1/4", "1/3", "3/8", "1/2", "2/3",
              "3/4", "1/1"]
# The synthesizer counts the LFO note values from the longest (0 = 1/1) and the delay's from the shortest.
LFO_SYNC_NOTES = SYNC_NOTES[::-1]
LISTS = {
    "offOn": OFF_ON,
    "voiceAssign": ["Mono", "Poly", "Unison"],
    "voicePriority": ["Last", "Low", "High"],
    "voiceTrigger": ["Single", "Multi"],
    "osc1Wave": ["Saw", "Square", "Triangle", "Sine", "Vox Wave", "DWGS", "Noise", "Audio In"],
    "osc2Wave": ["Saw", "Square", "Triangle"],
    "osc2Mod": ["Off", "Ring", "Sync", "RingSync"],
    "filterType": ["-24dB LPF", "-12dB LPF", "-12dB BPF", "-12dB HPF"],
    "lfo1Wave": ["Saw", "Square", "Triangle", "S/H"],
    "lfo2Wave": ["Saw", "Square", "Sine", "S/H"],
    "keySync": ["Off", "Timbre", "Voice"],
    "syncNotes": SYNC_NOTES,
    "lfoSyncNotes": LFO_SYNC_NOTES,
    "patchSource": ["Filter EG", "Amp EG", "LFO 1", "LFO 2", "Velocity", "Kbd Track", "Pitch Bend", "Mod Wheel"],
    "patchDest": ["Pitch", "Osc2 Pitch", "Osc1 Ctrl1", "Noise Lvl", "Cutoff", "Amp", "Pan", "LFO2 Freq"],
    "modFxType": ["Chorus/Flanger", "Ensemble", "Phaser"],
    "delayType": ["Stereo Delay", "Cross Delay", "L/R Delay"],
    "arpType": ["Up", "Down", "Alt1", "Alt2", "Random", "Trigger"],
    "arpRange": ["1 Octave", "2 Octave", "3 Octave", "4 Octave"],
    "arpReso": ["1/24", "1/16", "1/12", "1/8", "1/6", "1/4"],
    "arpTarget": ["Both", "Timbre 1", "Timbre 2"],
    "voiceMode": ["Single", "Split", "Layer", "Vocoder"],
    "voices": ["0", "1", "2"],
    "partChannels": [str(i) for i in range(1, 17)] + ["GLB"],
    "globalChannels": [str(i) for i in range(1, 17)],
    "seqMotion": ["Smooth", "Step"],
    "seqType": ["Forward", "Reverse", "Alt 1", "Alt 2"],
    "seqRun": ["Loop", "One Shot"],
    "position": ["Post KBD", "Pre TG"],
    "velocityArea": ["Curve 1", "Curve 2", "Curve 3", "Curve 4", "Curve 5", "Curve 6", "Curve 7", "Curve 8",
                     "Const"],
    "clockSource": ["Internal", "External", "Auto"],
    "transferPace": ["200 ms", "300 ms", "400 ms", "500 ms"],
    "uiSize": ["Small", "Normal", "Large"],
    "uiSkin": ["Normal", "Black"],
    "dataType": ["Banks", "Singles"],
    "tempoValues": ["%d BPM" % bpm for bpm in range(20, 301)],
    "mainTab": ["-", "Librarian", "Edit", "Mod Seq", "Global"],
}

# ---- output collectors ---------------------------------------------------------------------------------------

xml = []       # uiconfig.xml lines
PAGE_ORDER = ["bg", "modseq", "global", "librarian", "libview"]
pages = {name: [] for name in PAGE_ORDER}   # drawing commands per page
previews = []  # preview commands
current_page = ["bg"]
sysex = []     # (name, template) of sysex.xml, in index order
depth = [1]
used_params = {}   # parameter reference -> count of controls


def q(s):
    return '"' + s.replace('"', "'") + '"'


def emit(line):
    xml.append("  " * depth[0] + line)


def attrs(**kw):
    out = []
    for k, v in kw.items():
        if v is None:
            continue
        if isinstance(v, (list, tuple)):
            v = ",".join(str(x) for x in v)
        out.append("%s=%s" % (k, quoteattr(str(v))))
    return " ".join(out)


def element(tag, **kw):
    emit("<%s %s/>" % (tag, attrs(**kw)))


class Block:
    def __init__(self, tag, **kw):
        self.tag, self.kw = tag, kw

    def __enter__(self):
        emit("<%s %s>" % (self.tag, attrs(**self.kw)) if self.kw else "<%s>" % self.tag)
        depth[0] += 1

    def __exit__(self, *a):
        depth[0] -= 1
        emit("</%s>" % self.tag)


def comment(text):
    emit("<!-- %s -->" % escape(text))


def use(param):
    used_params[param] = used_params.get(param, 0) + 1


def sysex_index(name, number, value_high=0):
    """The entry of a parameter-change template for parameter number `number` (timbre 1).

    Signed values travel as 14-bit two's complement: the special value tables write the high byte only for the
    non-negative half and keep the template's for the negative half, so their templates carry 7F there."""
    lo, hi = number & 0x7F, number >> 7
    template = "42 30 58 41 %02X %02X 00 %02X" % (lo, hi, value_high)
    for i, (n, t) in enumerate(sysex):
        if t == template:
            return i
    sysex.append((name, template))
    return len(sysex) - 1


# ---- drawing-list helpers ------------------------------------------------------------------------------------

def line_of(*words):
    return (" ".join(q(w) if isinstance(w, str) and (" " in w or w == "" or "#" in w) else str(w)
                            for w in words))


def draw(*words):
    pages[current_page[0]].append(line_of(*words))


class OnPage:
    """Drawing commands inside go to the named page."""

    def __init__(self, name):
        self.name = name

    def __enter__(self):
        self.saved = current_page[0]
        current_page[0] = self.name

    def __exit__(self, *a):
        current_page[0] = self.saved


TABS_ALL = "librarian,edit,modseq,global"
current_tabs = ["edit"]


def preview(image, frames, frame, x, y):
    previews.append(line_of("ctl", ",".join(current_tabs), image, frames, frame, x, y))


def preview_text(x, y, w, h, size, color, text):
    previews.append(line_of("ctltext", ",".join(current_tabs), x, y, w, h, size, color, text))


def label(x, y, w, text, size=12, align="C", color="label", h=14):
    draw("label", x, y, w, h, size, align, color, text)


def well(x, y, w, h, kind="menu"):
    draw("well", x, y, w, h, kind)


# ---- controls ------------------------------------------------------------------------------------------------
# Each helper writes the XML element, the label and well into the current page, and a preview of the control.

CELL = 66          # width of one knob column
KNOB_ROW = 66      # knob 40 + label
MENU_ROW = 40      # label + menu field


def knob(x, y, text, param, lo=None, hi=None, default=None, bipolar=False, small=False, bind=None, name=None,
         group="", values=None, frame=None, label_below=True, overlay=None, label_color="label", link=False):
    """A knob at (x, y) (its top left), label centred under it. link: the timbre-1 knob of a pair the timbre
    link mirrors onto timbre 2 (and back) through the description rather than the linker's own table."""
    img = (KNOB_S_BI if bipolar else KNOB_S) if small else (KNOB_BI if bipolar else KNOB)
    size = img[2]
    entry = table_entry(param)
    if entry:
        lo, hi, default = entry
    if lo is None:
        lo, hi = 0, 127
    if default is None:
        default = (lo + hi) // 2 if bipolar else lo
    name = name or text.title()
    common = dict(name=name, paramId=param, paramGroup=group, position=(x, y, size, size), imageId=img[0],
                  valueBounds=(default, lo, hi, 1), valueList=values, overlay=overlay,
                  biDirectLink=twin_link(param) if link else None)
    if bind is None:
        element("multiFx", type="Knob", **common)
    elif bind[0] == "cc":
        element("knobcontrol", type="ccKnob", ccNumber=bind[1], **common)
    elif bind[0] == "se":
        element("knobcontrol", type="seKnob", sysexIndex=sysex_index(param, bind[1]), changingByte=7, **common)
    elif bind[0] == "se2":
        element("knobcontrol", type="seKnob2", sysexIndex=sysex_index(param, bind[1], 0x7F), changingByte=7,
                **common)
    elif bind[0] == "nrpn":
        element("knobcontrol", type="msbLsbKnob", ccNumber=6, msbValue=bind[1], lsbValue=0, lsbControl=bind[2],
                **common)
    else:
        raise ValueError(bind)
    use(param)
    if label_below:
        label(x + size // 2 - 45, y + size + 1, 90, text.upper(), 11, "C", label_color)
    if frame is None:
        frame = 64 if bipolar else 40
    preview(img[1], 128, frame, x, y)


def menu(x, y, w, text, param, lst, bind=None, default=0, group="", name=None, lab=True, unbound_kind="drop",
         numbers=None, overlay=None, with_well=True):
    """A menu field: label above at y, the field at y + 15 (the field is 13 high, its well 17)."""
    name = name or text.title()
    n = len(LISTS[lst]) if lst else numbers[1] - numbers[0] + 1
    entry = table_entry(param)
    if entry:
        if entry[1] - entry[0] + 1 != n:
            raise ValueError("%s: %d values in the table, %d in the menu" % (param, entry[1] - entry[0] + 1, n))
        default = entry[2] - entry[0]
    bounds = (default, 0, n)
    common = dict(name=name, paramId=param, paramGroup=group, valueList=lst, overlay=overlay)
    if lst is None:
        common["valueDisplay"] = "%d:%d" % numbers
    fy = y + 16
    if bind is None:
        if unbound_kind == "drop" and lst:
            element("dropMenu", type="dropSelection", bounds=(x, fy, w, 13), valueBounds=bounds, **common)
        else:
            element("multiFx", type="Menu", position=(x, fy, w, 13), valueBounds=bounds, visible=1, **common)
    elif bind[0] == "cc":
        element("menucontrol", type="ccMenu", ccNumber=bind[1], position=(x, fy, w, 13), valueBounds=bounds,
                **common)
    elif bind[0] == "nrpn":
        element("menucontrol", type="msbLsbMenu", ccNumber=6, msbValue=bind[1], lsbValue=0, lsbControl=bind[2],
                position=(x, fy, w, 13), valueBounds=bounds, **common)
    elif bind[0] == "se":
        element("menucontrol", type="seMenu", sysexIndex=sysex_index(param, bind[1]), changingByte=7,
                position=(x, fy, w, 13), valueBounds=bounds, **common)
    else:
        raise ValueError(bind)
    use(param)
    if lab and w > 70:
        label(x - 2, y, max(w + 4, 130), text.upper(), 11, "L", "dim")
    elif lab:
        label(x + w // 2 - 50, y, 100, text.upper(), 11, "C", "dim")
    if with_well:
        well(x - 3, fy - 2, w + 6, 17)
    sample = LISTS[lst][default] if lst else str(numbers[0] + default)
    preview_text(x, fy, w - 10 if w > 40 else w, 13, 13, "FFAD00", sample)


def switch(x, y, text, param, bind=None, default=0, group="", name=None, lab="below", image=SWITCH):
    """A two-state switch; label below (or to the right)."""
    name = name or text.title()
    iw, ih = image[2], image[3]
    entry = table_entry(param)
    if entry:
        default = entry[2]
    if bind is None:
        element("switch", name=name, paramId=param, paramGroup=group, position=(x, y), imageId=image[0],
                valueBounds=(default,))
    elif bind[0] == "se":
        element("buttoncontrol", type="seButton", name=name, paramId=param, paramGroup=group, position=(x, y, iw, ih),
                imageId=image[0], valueBounds=(default, 0, 1), sysexIndex=sysex_index(param, bind[1]),
                changingByte=7)
    elif bind[0] == "cc":
        element("buttoncontrol", type="ccButton", name=name, paramId=param, paramGroup=group,
                position=(x, y, iw, ih), imageId=image[0], valueBounds=(default, 0, 127), ccNumber=bind[1])
    elif bind[0] == "nrpn":
        element("buttoncontrol", type="msbLsbButton", name=name, paramId=param, paramGroup=group,
                position=(x, y, iw, ih), imageId=image[0], valueBounds=(default, 0, 127), ccNumber=6,
                msbValue=bind[1], lsbValue=0, lsbControl=bind[2])
    else:
        raise ValueError(bind)
    use(param)
    if lab == "below":
        label(x + iw // 2 - 45, y + ih + 2, 90, text.upper(), 11)
    elif lab == "right":
        label(x + iw + 6, y + ih // 2 - 7, 190, text.upper(), 11, "L")
    preview(image[1], 2, default, x, y)


def button(kind, x, y, param, image, w, h, name, group="", overlay=None, default=0):
    """An editor button without MIDI: kind 'autooff' (momentary) or 'switch' (two states)."""
    element(kind, name=name, paramId=param, paramGroup=group, position=(x, y), imageId=image,
            valueBounds=(default,), overlay=overlay)
    use(param)
    preview(IMAGE_FILES[image], 2, default, x, y)


def twin_link(param):
    """The link of a timbre-1 parameter to its timbre-2 twin, declared on the timbre-1 copy's element."""
    return "%s+1,%s" % (param, param)


def lock(x, y, param, group, wide=None):
    """A section lock. In a panel's title strip (x at the strip's right end minus 22) it is the wide lock that
    reads LOCKED when on; elsewhere the padlock alone."""
    if wide is None:
        wide = True
    image, file, dx = ("LOCK_WIDE_ID", "lock-wide.png", -46) if wide else (LOCK[0], LOCK[1], 0)
    # The locks of a timbre's sections come in pairs (timbre 1, timbre 2): linked timbres lock together.
    paired = TABLE[param][0] < TABLE["kSectionLockFXChorus"][0]
    element("switch", name="Lock", paramId=param, paramGroup=group, position=(x + dx, y), imageId=image,
            valueBounds=(0,), biDirectLink=twin_link(param) if paired else None)
    use(param)
    preview(file, 2, 0, x + dx, y)


def display(param, x, y, w, h, size, sample, color="323C46", text_size=15):
    element("display", paramId=param, bounds=(x, y, w, h), displaySize=size)
    use(param)
    preview_text(x, y, w, h, text_size, color, sample)


PICTURES = []   # (image name, file) of every picture cut from a page, for the black style and the image table
BLACK_ALIASES = [("BG_ID", "BG_BLACK_ID"), ("KNOB_ID127", "KNOB_BLACK_ID127"),
                 ("KNOB_SMALL_ID127", "KNOB_SMALL_BLACK_ID127"), ("KNOB_BI_ID127", "KNOB_BI_BLACK_ID127"),
                 ("KNOB_SMALL_BI_ID127", "KNOB_SMALL_BI_BLACK_ID127"), ("PAGE_MODSEQ_ID", "PAGE_MODSEQ_BLACK_ID"),
                 ("PAGE_GLOBAL_ID", "PAGE_GLOBAL_BLACK_ID"), ("PAGE_LIBRARIAN_ID", "PAGE_LIBRARIAN_BLACK_ID"),
                 ("LIBRARIAN_VIEW_ID", "LIBRARIAN_VIEW_BLACK_ID")]
# Rows of the image table that this tool adds (from id 154 on), written into resources/ImageTable.inc between
# its markers.
TABLE_FIRST_ID = 154


def picture_from_page(name, file, x, y, w, h, overlay=True):
    """A picture control showing the piece (x, y, w, h) of the page being drawn, cut out of it by the image
    generator. A layer that is switched with another starts with such a picture of their common area: the
    framework repaints only what is shown, so the picture of the layer shown repaints what the hidden one
    left behind."""
    black = file.replace(".png", "-black.png")
    draw("crop", file, black, x, y, w, h)
    element("image", name=name, imageId=name.upper().replace(" ", "_") + "_ID", position=(x, y),
            overlay=1 if overlay else None)
    PICTURES.append((name.upper().replace(" ", "_") + "_ID", file))


class PagePatch:
    """The picture that starts a switchable layer: the piece (x, y, w, h) of the page, plus whatever the layer's
    controls draw (their labels and fields) — those go into the picture only, not into the page."""

    def __init__(self, name, file, x, y, w, h):
        self.name, self.file, self.rect = name, file, (x, y, w, h)

    def __enter__(self):
        image = self.name.upper().replace(" ", "_") + "_ID"
        draw("patch", self.file, self.file.replace(".png", "-black.png"), *self.rect)
        element("image", name=self.name, imageId=image, position=self.rect[:2], overlay=1)
        PICTURES.append((image, self.file))

    def __exit__(self, *a):
        draw("endpatch")


def panel(x, y, w, h, title, accent="accent"):
    draw("panel", x, y, w, h, title, accent)


# ---- the sections of one timbre (edit tab) -------------------------------------------------------------------

ROW_A, ROW_B, ROW_C = 86, 278, 470
ROW_H = 186
PANEL_TOP = 26   # title strip and padding before the first control row


def section_voice(x, y, w):
    panel(x, y, w, ROW_H, "VOICE")
    lock(x + w - 22, y + 3, "kSectionLockVoice", "Voice")
    cx = x + (w - 100 - CELL - 64) // 2
    my = y + PANEL_TOP
    menu(cx, my, 90, "Assign", "kVoiceAssign", "voiceAssign", group="Voice", default=1)
    menu(cx, my + MENU_ROW + 8, 90, "Priority", "kVoicePriority", "voicePriority", group="Voice")
    with Block("layer", name="triggerZone", id=30):
        menu(cx, my + 2 * (MENU_ROW + 8), 90, "Trigger", "kVoiceTrigger", "voiceTrigger", group="Voice")
    kx = cx + 100 + (CELL - 40) // 2
    with Block("layer", name="unisonZone", id=40):
        knob(kx, my + 2, "Detune", "kDetune", name="Unison Detune", group="Voice")
    lock(kx + 44, my + 2, "kSectionLockUnisono", "Unison", wide=False)
    knob(kx, my + KNOB_ROW + 22, "Portamento", "kPortamento", bind=("cc", 5), group="Voice")
    menu(kx + 62, my, 50, "MIDI Ch", "kMultiPartMIDICh", "partChannels", group="Voice", name="Timbre MIDI Channel")


def section_pitch(x, y, w):
    panel(x, y, w, ROW_H, "PITCH")
    lock(x + w - 22, y + 3, "kSectionLockPitchMod", "Pitch")
    cx = x + (w - 2 * CELL) // 2 + 11
    r1, r2 = y + PANEL_TOP + 4, y + PANEL_TOP + 4 + KNOB_ROW + 10
    knob(cx, r1, "Tune", "kTimbreTune", 0, 100, bipolar=True, group="Pitch", link=True)
    knob(cx + CELL, r1, "Transpose", "kTimbreTranspose", 0, 48, bipolar=True, group="Pitch", link=True)
    knob(cx, r2, "Bend Range", "kTimbreBendRange", 0, 24, default=14, bipolar=True, group="Pitch", link=True)
    knob(cx + CELL, r2, "Vibrato", "kVibratoInt", 0, 127, bipolar=True, group="Pitch", name="Vibrato Int")


def section_osc1(x, y, w):
    panel(x, y, w, ROW_H, "OSC 1")
    lock(x + w - 22, y + 3, "kSectionLockOsc1", "Osc 1")
    step = 78
    cx = x + (w - 3 * step) // 2 + 19
    menu(cx - 8, y + PANEL_TOP, 2 * CELL - 16, "Wave", "kOsc1Waveform", "osc1Wave", bind=("cc", 77), group="Osc 1",
         name="Osc1 Wave")
    ky = y + PANEL_TOP + MENU_ROW + 16
    area = (cx - 28, ky - 2, 2 * step + 96, 58)
    with Block("layer", name="osc1Controls", id=60), PagePatch("Osc1 Controls", "osc1-controls.png", *area):
        knob(cx, ky, "Control 1", "kOsc1Control1", bind=("cc", 14), group="Osc 1", name="Osc1 Control 1")
        knob(cx + step, ky, "Control 2", "kOsc1Control2", bind=("cc", 15), group="Osc 1", name="Osc1 Control 2")
    with Block("layer", name="osc1Dwgs", id=61), PagePatch("Osc1 Dwgs", "osc1-dwgs.png", *area):
        knob(cx + 2 * step, ky, "DWGS Wave", "kOsc1DWGSWave", 0, 63, bind=("cc", 15), group="Osc 1",
             )


def section_osc2(x, y, w):
    panel(x, y, w, ROW_H, "OSC 2")
    lock(x + w - 22, y + 3, "kSectionLockOsc2", "Osc 2")
    cx = x + (w - 100 - CELL) // 2
    my = y + PANEL_TOP
    menu(cx, my, 90, "Wave", "kOsc2Waveform", "osc2Wave", bind=("cc", 78), group="Osc 2", name="Osc2 Wave")
    menu(cx, my + MENU_ROW + 8, 90, "Osc Mod", "kOsc2OscMod", "osc2Mod", bind=("cc", 82), group="Osc 2",
         name="Osc2 Mod")
    kx = cx + 100 + (CELL - 40) // 2
    knob(kx, my + 2, "Semitone", "kOsc2Semitone", bipolar=True, bind=("cc", 18), group="Osc 2",
         name="Osc2 Semitone")
    knob(kx, my + KNOB_ROW + 22, "Tune", "kOsc2Tune", bipolar=True, bind=("cc", 19), group="Osc 2",
         name="Osc2 Tune")


def section_mixer(x, y, w):
    panel(x, y, w, ROW_H, "MIXER")
    lock(x + w - 22, y + 3, "kSectionLockMixer", "Mixer")
    cx = x + (w - 3 * CELL) // 2 + 11
    ky = y + PANEL_TOP + MENU_ROW + 16
    knob(cx, ky, "Osc 1", "kOsc1Level", bind=("cc", 20), group="Mixer", name="Osc1 Level", default=127)
    knob(cx + CELL, ky, "Osc 2", "kOsc2Level", bind=("cc", 21), group="Mixer", name="Osc2 Level")
    knob(cx + 2 * CELL, ky, "Noise", "kNoiseLevel", bind=("cc", 22), group="Mixer", name="Noise Level")


def section_filter(x, y, w):
    panel(x, y, w, ROW_H, "FILTER")
    lock(x + w - 22, y + 3, "kSectionLockFilter", "Filter")
    cx = x + (w - 4 * CELL) // 2 + 11
    menu(cx - 3, y + PANEL_TOP, 2 * CELL - 10, "Type", "kFilterType", "filterType", bind=("cc", 83),
         group="Filter", name="Filter Type")
    r2 = y + PANEL_TOP + MENU_ROW + 16
    knob(cx + 3 * CELL, y + PANEL_TOP - 2, "Velo Sens", "kFilterVeloSense", bipolar=True, small=True,
         group="Filter", name="Filter Velo Sense")
    knob(cx, r2, "Cutoff", "kFilterCutoff", bind=("cc", 74), group="Filter", default=127)
    knob(cx + CELL, r2, "Resonance", "kFilterResonance", bind=("cc", 71), group="Filter")
    knob(cx + 2 * CELL, r2, "EG Int", "kFilterEGIntensity", bipolar=True, bind=("cc", 79), group="Filter",
         name="Filter EG Int")
    knob(cx + 3 * CELL, r2, "Kbd Track", "kFilterKBDTrack", bipolar=True, bind=("cc", 85), group="Filter",
         name="Filter Key Track")


def envelope(x, y, w, title, lockp, group, params, ccs, reset, zone=None):
    panel(x, y, w, ROW_H, title)
    lock(x + w - 22, y + 3, lockp, group)
    cx = x + (w - 4 * CELL) // 2 + 11
    ky = y + PANEL_TOP + 4

    def knobs():
        for i, (t, p) in enumerate(zip(["Attack", "Decay", "Sustain", "Release"], params)):
            knob(cx + i * CELL, ky, t, p, bind=("cc", ccs[i]), group=group, name=group + " " + t,
                 default=127 if t == "Sustain" else 0)
    if zone:
        with Block("layer", name=zone[0], id=zone[1]):
            knobs()
    else:
        knobs()
    switch(cx + 5, ky + KNOB_ROW + 22, "EG Reset", reset, group=group, lab="right", name=group + " Reset")


def section_amp(x, y, w):
    panel(x, y, w, ROW_H, "AMP")
    lock(x + w - 22, y + 3, "kSectionLockAmp", "Amp")
    cx = x + (w - 4 * CELL) // 2 + 11
    ky = y + PANEL_TOP + 4
    knob(cx, ky, "Level", "kAmpLevel", bind=("cc", 7), group="Amp", name="Amp Level", default=100)
    knob(cx + CELL, ky, "Pan", "kAmpPan", bipolar=True, bind=("cc", 10), group="Amp", name="Amp Pan")
    knob(cx + 2 * CELL, ky, "Kbd Track", "kAmpKBDTrack", bipolar=True, group="Amp", name="Amp Key Track")
    knob(cx + 3 * CELL, ky, "Velo Sens", "kAmpVeloSense", bipolar=True, group="Amp", name="Amp Velo Sense")
    sy = ky + KNOB_ROW + 22
    switch(cx + 5, sy, "Distortion", "kAmpDistSw", bind=("cc", 92), group="Amp", lab="right")
    switch(cx + 2 * CELL + 5, sy, "Gate (no EG)", "kAmpGateSw", bind=("se", 91), group="Amp", lab="right",
           name="Amp EG Gate")


def section_lfo(x, y, w, n):
    p = "kLfo%d" % n
    group = "LFO %d" % n
    panel(x, y, w, ROW_H, "LFO %d" % n)
    lock(x + w - 22, y + 3, "kSectionLockLFO%d" % n, group)
    cx = x + (w - 4 * CELL) // 2 + 8
    menu(cx, y + PANEL_TOP, 2 * CELL - 16, "Wave", p + "Waveform", "lfo%dWave" % n,
         bind=("cc", 87 if n == 1 else 88), group=group, name="LFO%d Wave" % n)
    menu(cx + 2 * CELL, y + PANEL_TOP, 2 * CELL - 16, "Key Sync", p + "KeySync", "keySync", group=group,
         name="LFO%d Key Sync" % n)
    ky = y + PANEL_TOP + MENU_ROW + 16
    zone = 10 if n == 1 else 20
    switch(cx + 16, ky + 12, "Tempo Sync", p + "TempoSync", bind=("se", 107 if n == 1 else 112), group=group,
           name="LFO%d Tempo Sync" % n)
    kx, mx, mw = cx + CELL + 21, cx + 2 * CELL + 26, CELL + 10
    area = (kx - 16, ky - 2, mx + mw + 4 - (kx - 16), 58)
    with Block("layer", name="lfo%dFree" % n, id=zone), PagePatch("Lfo%d Free" % n, "lfo%d-free.png" % n, *area):
        knob(kx, ky, "Frequency", p + "Frequency", bind=("cc", 27 if n == 1 else 76), group=group,
             name="LFO%d Frequency" % n, default=64)
    with Block("layer", name="lfo%dSynced" % n, id=zone + 1), \
            PagePatch("Lfo%d Synced" % n, "lfo%d-synced.png" % n, *area):
        menu(mx, ky + 4, mw, "Sync Note", p + "SyncNote", "lfoSyncNotes",
             bind=("se", 106 if n == 1 else 111), group=group, name="LFO%d Sync Note" % n, default=8)


def section_patches(x, y, w):
    panel(x, y, w, ROW_H, "VIRTUAL PATCH")
    cx = x + 14
    label(cx + 22, y + PANEL_TOP - 2, 100, "SOURCE", 11, "L", "dim")
    label(cx + 132, y + PANEL_TOP - 2, 100, "DESTINATION", 11, "L", "dim")
    label(cx + 240, y + PANEL_TOP - 2, 50, "AMOUNT", 11, "C", "dim")
    for i in range(4):
        ry = y + PANEL_TOP + 14 + i * 36
        n = i + 1
        draw("mono", cx - 2, ry + 8, 14, 16, 14, "C", "accent", str(n))
        menu(cx + 22, ry + 8 - 16, 96, "", "kVPatchSrc%d" % n, "patchSource", bind=("nrpn", 4, i), lab=False,
             group="Virtual Patch", name="Patch%d Source" % n)
        menu(cx + 132, ry + 8 - 16, 96, "", "kVPatchDest%d" % n, "patchDest", bind=("nrpn", 4, 8 + i), lab=False,
             group="Virtual Patch", name="Patch%d Dest" % n, default=4)
        knob(cx + 250, ry, "", "kVPatchAmnt%d" % n, bipolar=True, small=True, bind=("cc", 28 + i),
             group="Virtual Patch", name="Patch%d Amount" % n, label_below=False)
        lock(cx + 292, ry + 7, "kSectionLockVP%d" % n, "Virtual Patch %d" % n, wide=False)


def justify(x0, x1, widths, gap=6):
    """Spreads the leftover width of a row evenly over its panels; returns (x, w) per panel."""
    spare = (x1 - x0) - sum(widths) - gap * (len(widths) - 1)
    out, x = [], x0
    for i, w in enumerate(widths):
        extra = spare // len(widths) + (1 if i < spare % len(widths) else 0)
        out.append((x, w + extra))
        x += w + extra + gap
    return out


EDIT_X0, EDIT_X1 = 6, 1134


def timbre_sections():
    a = justify(EDIT_X0, EDIT_X1, [100 + CELL + 64 + 20, 2 * CELL + 20, 3 * 78 + 20, 100 + CELL + 20, 3 * CELL + 20])
    section_voice(a[0][0], ROW_A, a[0][1])
    section_pitch(a[1][0], ROW_A, a[1][1])
    section_osc1(a[2][0], ROW_A, a[2][1])
    section_osc2(a[3][0], ROW_A, a[3][1])
    section_mixer(a[4][0], ROW_A, a[4][1])
    b = justify(EDIT_X0, EDIT_X1, [4 * CELL + 12] * 4)
    section_filter(b[0][0], ROW_B, b[0][1])
    envelope(b[1][0], ROW_B, b[1][1], "FILTER EG", "kSectionLockEg1", "Filter EG",
             ["kEG1Attack", "kEG1Decay", "kEG1Sustain", "kEG1Release"], [23, 24, 25, 26], "kEG1Reset")
    section_amp(b[2][0], ROW_B, b[2][1])
    envelope(b[3][0], ROW_B, b[3][1], "AMP EG", "kSectionLockEg2", "Amp EG",
             ["kEG2Attack", "kEG2Decay", "kEG2Sustain", "kEG2Release"], [73, 75, 70, 72], "kEG2Reset",
             zone=("ampEgZone", 50))
    c = justify(EDIT_X0, EDIT_X1, [4 * CELL, 4 * CELL, 330])
    section_lfo(c[0][0], ROW_C, c[0][1], 1)
    section_lfo(c[1][0], ROW_C, c[1][1], 2)
    section_patches(c[2][0], ROW_C, c[2][1])


# ---- effects, EQ and arpeggiator (one set per program) -------------------------------------------------------

FX_X, FX_W = 1140, 354


def section_effects():
    x, w = FX_X, FX_W
    # Modulation effect
    y = ROW_A
    panel(x, y, w, 92, "MOD FX")
    lock(x + w - 22, y + 3, "kSectionLockFXChorus", "Mod FX")
    menu(x + 18, y + PANEL_TOP + 10, 150, "Type", "kModFxType", "modFxType", group="Mod FX", name="Mod FX Type")
    knob(x + 210, y + PANEL_TOP + 2, "Speed", "kModFxSpeed", bind=("cc", 12), group="Mod FX", name="Mod FX Speed",
         small=True)
    knob(x + 286, y + PANEL_TOP + 2, "Depth", "kModFxDepth", bind=("cc", 93), group="Mod FX", name="Mod FX Depth",
         small=True)
    # Delay (its time is a knob, or a note value while synced: two layers the tab logic switches)
    y = ROW_A + 98
    panel(x, y, w, ROW_H - 98, "DELAY")
    lock(x + w - 22, y + 3, "kSectionLockFXDelay", "Delay")
    menu(x + 18, y + PANEL_TOP + 10, 110, "Type", "kDelayFxType", "delayType", group="Delay", name="Delay Type")
    switch(x + 146, y + PANEL_TOP + 9, "Sync", "kDelayFxTempoSync", bind=("se", 41), group="Delay",
           name="Delay Tempo Sync")
    label(x + 210 + 15 - CELL // 2, y + PANEL_TOP + 2 + 31, CELL, "TIME", 11)
    knob(x + 286, y + PANEL_TOP + 2, "Depth", "kDelayFxDepth", bind=("cc", 94), group="Delay", name="Delay Depth",
         small=True)
    # EQ
    y = ROW_B
    panel(x, y, w, 96, "EQ")
    lock(x + w - 22, y + 3, "kSectionLockFXEQ", "EQ")
    for i, (t, p, lo, hi, bi) in enumerate([("Low Freq", "kEQLowFreq", 0, 29, False),
                                           ("Low Gain", "kEQLowGain", 0, 24, True),
                                           ("High Freq", "kEQHiFreq", 0, 29, False),
                                           ("High Gain", "kEQHiGain", 0, 24, True)]):
        knob(x + 32 + i * 82, y + PANEL_TOP + 4, t, p, lo, hi, bipolar=bi, small=True, group="EQ", name="EQ " + t)
    # Arpeggiator
    y = ROW_B + 102
    h = ROW_C + ROW_H - y
    panel(x, y, w, h, "ARPEGGIATOR")
    lock(x + w - 22, y + 3, "kSectionLockArp", "Arpeggiator")
    g = "Arpeggiator"
    r1 = y + PANEL_TOP + 6
    switch(x + 18, r1 + 12, "On", "kArpOnOff", bind=("nrpn", 0, 2), group=g, name="Arp On/Off")
    switch(x + 70, r1 + 12, "Latch", "kArpLatch", bind=("nrpn", 0, 4), group=g, name="Arp Latch")
    switch(x + 122, r1 + 12, "Key Sync", "kArpKeySync", group=g, name="Arp Key Sync")
    menu(x + 186, r1, 70, "Type", "kArpType", "arpType", bind=("nrpn", 0, 7), group=g, name="Arp Type")
    menu(x + 268, r1, 78, "Range", "kArpRange", "arpRange", bind=("nrpn", 0, 3), group=g, name="Arp Range")
    r2 = r1 + 50
    menu(x + 186, r2, 70, "Resolution", "kArpReso", "arpReso", group=g, name="Arp Resolution", default=1)
    menu(x + 268, r2, 78, "Target", "kArpTarget", "arpTarget", group=g, name="Arp Target")
    r3 = r2 + 58
    knob(x + 24, r3, "Tempo", "kArpTempo", 0, 280, default=100, group=g, name="Arp Tempo", values="tempoValues")
    knob(x + 96, r3, "Gate", "kArpGate", 0, 100, default=80, bind=("nrpn", 0, 10), group=g, name="Arp Gate")
    knob(x + 168, r3, "Swing", "kArpSwing", 0, 200, bipolar=True, group=g, name="Arp Swing")
    label(x + 226, r3 + 8, 120, "TEMPO ALSO SETS", 10, "L", "dim")
    label(x + 226, r3 + 22, 120, "THE MIDI CLOCK", 10, "L", "dim")


def delay_time_layers():
    x, y = FX_X, ROW_A + 98
    area = (x + 196, y + PANEL_TOP + 1, 60, 32)
    with Block("layer", name="delayKnobLayer", id=0), PagePatch("Delay Knob", "delay-knob.png", *area):
        knob(x + 210, y + PANEL_TOP + 2, "Time", "kDelayFxTime", bind=("cc", 13), group="Delay", name="Delay Time",
             small=True, label_below=False)
    with Block("layer", name="delayMenuLayer", id=0), PagePatch("Delay Menu", "delay-menu.png", *area):
        menu(x + 198, y + PANEL_TOP - 6, 54, "Time", "kDelayFxSyncNote", "syncNotes", bind=("se", 42),
             group="Delay", name="Delay Sync Note", default=8, lab=False)


# ---- modulation sequences ------------------------------------------------------------------------------------

SEQ_Y0 = 148
SEQ_H = 168
STEP_X0 = 214
STEP_W = 80


def modseq_copy():
    for n in (1, 2, 3):
        y = SEQ_Y0 + (n - 1) * (SEQ_H + 4)
        # The knob switches its sequence on and off, so it stays outside the zone that greys while it is 0.
        knob(44, y + 48, "Knob", "kSeq%dKnob" % n, 0, 127, bind=("se", 134 + 18 * (n - 1)),
             group="Sequence %d" % n, name="Seq%d Knob" % n)
        with Block("layer", name="seq%dZone" % n, id=n * 10):
            menu(116, y + 54, 70, "Motion", "kSeq%dMotion" % n, "seqMotion", bind=("se", 135 + 18 * (n - 1)),
                 group="Sequence %d" % n, name="Seq%d Motion" % n)
            for k in range(16):
                sx = STEP_X0 + k * STEP_W + (STEP_W - 40) // 2
                knob(sx, y + 48, "", "kSeq%dStep%d" % (n, k + 1), 0, 127, bipolar=True,
                     bind=("se2", 136 + 18 * (n - 1) + k), group="Sequence %d" % n,
                     name="Seq%d Step %d" % (n, k + 1), label_below=False)
        lock(168, y + 3, "kSectionLocSeq%dLock" % n, "Sequence %d" % n)


def modseq_settings_row():
    y = 90
    x = 20
    g = "Mod Sequence"
    switch(x + 6, y + 28, "On", "kModSeqSwitch", group=g, name="Mod Seq On/Off")
    menu(x + 80, y + 20, 90, "Type", "kModSeqType", "seqType", group=g, name="Mod Seq Type")
    menu(x + 200, y + 20, 60, "Last Step", "kModSeqLastStep", None, numbers=(1, 16), group=g, default=15,
         unbound_kind="fx")
    menu(x + 290, y + 20, 80, "Key Sync", "kModSeqKeySync", "keySync", group=g, name="Mod Seq Key Sync")
    menu(x + 400, y + 20, 90, "Run Mode", "kModSeqRunMode", "seqRun", group=g, name="Mod Seq Run Mode")
    menu(x + 520, y + 20, 60, "Resolution", "kModSeqResolution", None, numbers=(1, 16), group=g,
         unbound_kind="fx", name="Mod Seq Resolution")


def modseq_page():
    """The page behind the sequences: one panel per sequence with its step columns."""
    draw("panel", 6, 84, W - 12, 58, "MOD SEQUENCE")
    for n in (1, 2, 3):
        y = SEQ_Y0 + (n - 1) * (SEQ_H + 4)
        draw("panel", 6, y, W - 12, SEQ_H, "SEQUENCE %d" % n)
        label(200, y + 3, 400, "KNOB 0 = OFF: THE SEQUENCE THEN DOES NOTHING", 10, "L", "dim", h=16)
        for k in range(16):
            sx = STEP_X0 + k * STEP_W
            if k % 4 == 0:
                draw("vline", sx - 2, y + 26, SEQ_H - 34, "edge")
            draw("mono", sx, y + 28, STEP_W, 14, 12, "C", "dim", str(k + 1))
            well(sx + 8, y + 106, STEP_W - 16, 24, "dark")


def modseq_displays():
    for n in (1, 2, 3):
        y = SEQ_Y0 + (n - 1) * (SEQ_H + 4)
        for k in range(16):
            sx = STEP_X0 + k * STEP_W
            display("kModSeq%dValue%02d" % (n, k + 1), sx + 10, y + 109, STEP_W - 20, 18, 2, "0", "E1E1E1", 16)


# ---- global settings -----------------------------------------------------------------------------------------

def global_page_and_controls():
    g = "Global"
    # MIDI ports and channels
    x, y, w, h = 6, 84, 480, 250
    panel(x, y, w, h, "MIDI CONNECTION")
    for i, t in enumerate(["THE MIDI PORTS OF THE SYNTHESIZER ARE CHOSEN ON THE BAR ABOVE",
                           "(MIDI OUT: TO THE SYNTH, MIDI IN: FROM THE SYNTH).",
                           "SET THE GLOBAL CHANNEL TO THE SYNTHESIZER'S OWN CHANNEL."]):
        label(x + 16, y + 34 + i * 16, 456, t, 10, "L", "dim")
    menu(x + 340, y + 96, 110, "Global Channel", "kGlobalMidiChannel", "globalChannels", group=g,
         name="Global MIDI Channel")
    switch(x + 340, y + 150, "Local Control", "kGlobalLocalControl", group=g, lab="right", default=1)
    menu(x + 16, y + 140, 110, "Clock Source", "kGlobalClockSource", "clockSource", group=g)
    switch(x + 160, y + 156, "Master Keyboard", "kMasterKeyboard", group=g, lab="right",
           name="Master Keyboard")
    label(x + 16, y + 190, 440, "MASTER KEYBOARD: THE EDITOR FOLLOWS EVERY CONTROLLER OF THE SYNTH,", 10, "L",
          "dim")
    label(x + 16, y + 204, 440, "NOT ONLY THOSE ON ITS OWN CHANNEL.", 10, "L", "dim")
    # The synthesizer's global settings
    x, y, w, h = 492, 84, 500, 250
    panel(x, y, w, h, "SYNTHESIZER GLOBAL")
    lock(x + w - 22, y + 3, "kSectionLockGlobal", g)
    knob(x + 24, y + 34, "Master Tune", "kMasterTune", 51, 151, default=101, bipolar=True, group=g)
    knob(x + 104, y + 34, "Transpose", "kMasterTranspose", 1, 25, default=13, bipolar=True, group=g,
         name="Master Transpose")
    menu(x + 170, y + 34, 90, "Position", "kMasterPosition", "position", group=g)
    menu(x + 290, y + 34, 90, "Velocity Curve", "kMasterVelocityArea", "velocityArea", group=g, default=3)
    menu(x + 170, y + 84, 60, "MIDI 1 CC", "kGlobalMIDI1Ctrl", None, numbers=(0, 127), group=g,
         unbound_kind="fx", name="MIDI1 Control", default=1)
    menu(x + 290, y + 84, 60, "MIDI 2 CC", "kGlobalMIDI2Ctrl", None, numbers=(0, 127), group=g,
         unbound_kind="fx", name="MIDI2 Control", default=2)
    label(x + 16, y + 130, 200, "SYNTH MIDI FILTER", 11, "L", "dim")
    for i, (t, p) in enumerate([("Program Chg", "kMIDIFilterProgramChange"), ("Control Chg", "kMIDIFilterControlChange"),
                                ("Pitch Bend", "kMIDIFilterPitchBend"), ("SysEx", "kMIDIFilterSysEx"),
                                ("Write Protect", "kMIDIFilterWriteProtect")]):
        switch(x + 20 + (i % 3) * 150, y + 150 + (i // 3) * 28, t, p, group=g, lab="right", default=1 if i < 4 else 0)
    switch(x + 320, y + 178, "Page Memory", "kGlobalPageMemory", group=g, lab="right")
    switch(x + 20, y + 206, "Page Jump", "kGlobalPageJump", group=g, lab="right")
    # Velocity value, only with the constant velocity
    with_layer_velocity = (x + 402, y + 34)
    # Editor filters
    x, y, w, h = 998, 84, 496, 250
    panel(x, y, w, h, "EDITOR MIDI FILTERS")
    label(x + 150, y + 28, 150, "FROM HOST", 11, "C", "dim")
    label(x + 300, y + 28, 150, "FROM SYNTH", 11, "C", "dim")
    kinds = [("Control Change", "CC"), ("Program Change", "PC"), ("Notes", "Note"), ("Poly Pressure", "PP"),
             ("Aftertouch", "CA"), ("Pitch Bend", "PA"), ("SysEx", "SE")]
    for i, (t, k) in enumerate(kinds):
        ry = y + 46 + i * 26
        label(x + 16, ry, 130, t.upper(), 11, "L")
        switch(x + 210, ry - 1, "", "kMIDIFilterDAW%sPassThrough" % k, group="MIDI Filter", lab=None,
               name="Host " + t + " Pass", default=0 if k in ("PC", "SE") else 1)
        switch(x + 360, ry - 1, "", "kMIDIFilterHW%sPassThrough" % k, group="MIDI Filter", lab=None,
               name="Synth " + t + " Pass", default=0 if k == "PC" else 1)
    # Clock, transfer and tracking
    x, y, w, h = 6, 340, 480, 322
    panel(x, y, w, h, "CLOCK AND TRANSFER")
    switch(x + 20, y + 34, "Send Start/Stop", "kSendMIDIClockPointer", group="Clock", lab="right",
           name="Send Clock Start/Stop")
    switch(x + 20, y + 64, "Send Clock", "kSendMIDIClockInfo", group="Clock", lab="right", name="Send MIDI Clock")
    switch(x + 240, y + 34, "Use Arp Tempo", "kOverrideTempo", group="Clock", lab="right",
           name="Override Host Tempo", default=1)
    label(x + 20, y + 92, 440, "OFF: THE CLOCK FOLLOWS THE HOST'S TEMPO.", 10, "L", "dim")
    switch(x + 20, y + 120, "Track Incoming", "kMIDIFilterTrackIncomingMIDI", group="MIDI Filter", lab="right",
           name="Track Incoming MIDI", default=1)
    switch(x + 20, y + 150, "Direct to Synth", "kMIDIFilterDirectToHardware", group="MIDI Filter", lab="right",
           name="Direct To Hardware", default=1)
    switch(x + 240, y + 120, "Via Host Buffer", "kMIDIFilterToDAWBuffer", group="MIDI Filter", lab="right",
           name="MIDI Out Via Host")
    knob(x + 250, y + 150, "Host Offset", "kAdjustDAWOffset", 0, 127, small=True, group="MIDI Filter",
         name="Host Buffer Offset")
    menu(x + 20, y + 196, 80, "Transfer Pace", "kLibSyncTimer", "transferPace", group="Librarian", default=2)
    label(x + 20, y + 240, 200, "MIDI OUT DELAY", 11, "L", "dim")
    well(x + 17, y + 256, 206, 22, "lcd")
    display("kControlDisplayMIDIOutDelay", x + 20, y + 258, 200, 18, 4, "0ms|512bf", text_size=14)
    # Part locks
    x, y, w, h = 492, 340, 500, 322
    panel(x, y, w, h, "TIMBRE MIDI")
    for t in (0, 1):
        ry = y + 34 + t * 50
        draw("mono", x + 16, ry + 14, 80, 16, 13, "L", "accent", "TIMBRE %d" % (t + 1))
        switch(x + 110, ry + 14, "Ignore MIDI In", "kPartLock+%d" % t, group="Timbre MIDI", lab="right",
               name="Timbre %d Part Lock" % (t + 1))
        switch(x + 300, ry + 14, "Keep Channel", "kLockPartMIDIch+%d" % t, group="Timbre MIDI", lab="right",
               name="Timbre %d Channel Lock" % (t + 1))
    for i, t in enumerate(["IGNORE MIDI IN: MESSAGES ON THE TIMBRE'S CHANNEL NO LONGER MOVE ITS",
                           "CONTROLS OR CHANGE ITS PROGRAM.",
                           "KEEP CHANNEL: RECEIVED, RANDOMIZED AND LIBRARIAN PROGRAMS LEAVE THE",
                           "TIMBRE'S MIDI CHANNEL AS IT IS.",
                           "EACH TIMBRE'S CHANNEL IS SET IN ITS VOICE SECTION (EDIT TAB);",
                           "GLB FOLLOWS THE GLOBAL CHANNEL."]):
        label(x + 16, y + 150 + i * 16 + (i // 2) * 10, 470, t, 10, "L", "dim")
    # Interface
    x, y, w, h = 998, 340, 496, 322
    panel(x, y, w, h, "INTERFACE")
    menu(x + 20, y + 34, 90, "Size", "kUserInterfaceSize", "uiSize", group="Interface", name="Window Size",
         default=1)
    menu(x + 140, y + 34, 90, "Colours", "kUserInterfaceSkin", "uiSkin", group="Interface", name="Colour Scheme")
    label(x + 20, y + 74, 440, "SIZE AND COLOURS TAKE EFFECT WHEN THE PLUG-IN STARTS AGAIN:", 10, "L", "dim")
    label(x + 20, y + 90, 440, "SAVE AND RELOAD THE PROJECT (REOPENING THE EDITOR KEEPS THEM).", 10, "L", "dim")
    label(x + 20, y + 110, 200, "BUILD", 11, "L", "dim")
    well(x + 17, y + 126, 306, 22, "lcd")
    display("kControlDisplayBuild", x + 20, y + 128, 300, 18, 4, "Vexmir Editor 2.0.8", text_size=14)
    return with_layer_velocity


# ---- librarian -----------------------------------------------------------------------------------------------

LIB_VIEW_X, LIB_VIEW_Y = 84, 58
SLOT_W, SLOT_H, SLOT_G = 97, 16, 30


def librarian_page():
    # The two bank choosers over the slot grids, the bank menu beside the upper one.
    # The program bar shows through at the right: the MIDI port choosers and the unlock button stay usable here.
    draw("clear", 946, 38, W - 946, 38)
    draw("title", 4, 39, 78, 17, 11, "dim", "OPEN BANK")
    well(412, 38, 419, 19, "menu")
    draw("well", 859, 37, 83, 24, "menu")
    draw("label", 859, 37, 72, 24, 12, "C", "title", "MENU")
    # Slot grid frames (the slot view's own picture sits on top, these are its surroundings).
    draw("fill", LIB_VIEW_X, LIB_VIEW_Y - 1, 1076, 1, "edge")
    # Right-hand column: tools of the librarian.
    x, w = 1172, 322
    panel(x, 76, w, 116, "TRANSFER")
    panel(x, 198, w, 128, "SEARCH")
    panel(x, 332, w, 160, "BANK")
    panel(x, 498, w, 164, "PROGRAM")


def librarian_view_picture():
    """The slot view's bitmap: 8 columns x 16 rows per bank, numbered, exactly where the view puts its texts."""
    draw("fill", LIB_VIEW_X, LIB_VIEW_Y, 1076, 562, "1A1D21")
    # The lower bank's chooser lies inside the view, between the two grids.
    draw("title", LIB_VIEW_X + 4, 342, 70, 19, 11, "dim", "BROWSE")
    well(412, 341, 419, 21, "menu")
    for bank, top in ((0, LIB_VIEW_Y + 1), (1, LIB_VIEW_Y + 303)):
        for c in range(8):
            left = LIB_VIEW_X + SLOT_G + c * (SLOT_W + SLOT_G)
            for r in range(16):
                draw("slot", left, top + r * SLOT_H, SLOT_W, SLOT_H, r)
                draw("mono", left - SLOT_G, top + r * SLOT_H, SLOT_G - 6, SLOT_H, 10, "R", "dim",
                     "%d" % (c * 16 + r + 1))
        draw("fill", LIB_VIEW_X, top + 16 * SLOT_H + 4, 1076, 1, "edge")


def librarian_controls():
    g = "Librarian"
    # Bank choosers (the popup menus over them are made by the editor object)
    element("dropMenu", type="textSelection", name="Bank Selection List 1", paramId="kPatchSelectionListUpper",
            bounds=(416, 39, 396, 16))
    use("kPatchSelectionListUpper")
    preview_text(416, 39, 396, 16, 15, "FFAD00", "Factory Bank.syx")
    element("librarianView", paramId="kLibrarianArea", position=(LIB_VIEW_X, LIB_VIEW_Y),
            imageId="LIBRARIAN_VIEW_ID")
    use("kLibrarianArea")
    preview("librarian-view.png", 1, 0, LIB_VIEW_X, LIB_VIEW_Y)
    # After the view, so that it draws over the view's picture.
    element("dropMenu", type="textSelection", name="Bank Selection List 2", paramId="kPatchSelectionListLower",
            bounds=(416, 343, 396, 17), overlay=1)
    use("kPatchSelectionListLower")
    preview_text(416, 343, 396, 17, 15, "FFAD00", "User Bank 2.syx")
    x = 1172
    # Transfer
    for i, (t, p) in enumerate([("Read Timbre 1", "kReadFromTimbre1"), ("Read Timbre 2", "kReadFromTimbre2")]):
        switch(x + 16, 106 + i * 28, t, p, group=g, lab="right")
    for i, (t, p) in enumerate([("Load To Timbre 1", "kLoadToTimbre1"), ("Load To Timbre 2", "kLoadToTimbre2")]):
        switch(x + 170, 106 + i * 28, t, p, group=g, lab="right")
    switch(x + 16, 162, "Library Control", "kControlLibrary", group=g, lab="right")
    # Search
    switch(x + 16, 232, "Search Names", "kPatchSearch", group=g, lab="right", name="Patch Search")
    menu(x + 16, 290, 120, "Show", "kDataType", "dataType", group=g, name="Data Type")
    # Bank
    button("autooff", x + 170, 372, "kLibLowerPreviousBank", "BUTTON_PREV_ID", 22, 24, "Browse Bank Previous",
           group=g)
    button("autooff", x + 198, 372, "kLibLowerNextBank", "BUTTON_NEXT_ID", 22, 24, "Browse Bank Next", group=g)
    label(x + 226, 377, 90, "BROWSE BANK", 10, "L", "dim")


def librarian_layers():
    g = "Librarian"
    x = 1172
    with Block("layer", name="searchField", id=0, repaintWhenHidden=1), \
            PagePatch("Search Field", "search-field.png", x + 10, 255, 302, 30):
        well(x + 14, 258, 294, 24, "dark")
        element("dropMenu", type="nameSelection", name="Search", paramId="kPatchSearchString",
                bounds=(x + 17, 260, 288, 20), nameLen=12, paramGroup=g)
        use("kPatchSearchString")
    with Block("layer", name="saveChangesLayer", id=0):
        button("autooff", x + 16, 372, "kOverwriteBank", "BUTTON_STORE_ID", 138, 24, "Store Program To Selected Slot",
               group=g)
    # The open bank can be stepped only while it has no unsaved changes; otherwise the discard button stands in
    # the same place.
    area = (x + 8, 404, 306, 58)
    with Block("layer", name="discardChangesLayerRight", id=0), \
            PagePatch("Bank Changed", "bank-changed.png", *area):
        button("autooff", x + 16, 408, "kDiscardBankData", "BUTTON_DISCARD_ID", 138, 24, "Discard Changes",
               group=g)
        label(x + 16, 438, 290, "BANK CHANGED: SAVE IT (MENU) OR DISCARD IT", 10, "L", "accent")
    with Block("layer", name="keepBankOpenLayer", id=0), PagePatch("Bank Saved", "bank-saved.png", *area):
        button("autooff", x + 16, 408, "kLibUpperPreviousBank", "BUTTON_PREV_ID", 22, 24, "Open Bank Previous",
               group=g)
        button("autooff", x + 44, 408, "kLibUpperNextBank", "BUTTON_NEXT_ID", 22, 24, "Open Bank Next", group=g)
        label(x + 72, 413, 120, "OPEN BANK", 10, "L", "dim")
    with Block("layer", name="patchRename", id=0, overlay=1, repaintWhenHidden=1), \
            PagePatch("Rename Field", "rename-field.png", x + 10, 620, 302, 30):
        # Below the PROGRAM panel's hint, whose last line says the new name is typed below.
        well(x + 14, 623, 294, 24, "dark")
        element("dropMenu", type="nameSelection", name="Rename", paramId="kPatchRename", bounds=(x + 17, 625, 288, 20),
                nameLen=24, paramGroup=g, overlay=1)
        use("kPatchRename")


def librarian_static_labels():
    x = 1172
    for i, t in enumerate(["SELECT: CLICK A SLOT, OR USE THE ARROW KEYS.",
                           "AUDITION: DOUBLE-CLICK A SLOT (NEEDS MIDI OUT).",
                           "COPY AND PASTE: RIGHT-CLICK A SLOT OF THE LOWER",
                           "BANK, THEN ONE OF THE OPEN BANK.",
                           "RENAME: RIGHT-CLICK A SLOT OF THE OPEN BANK;",
                           "THE NEW NAME IS TYPED BELOW."]):
        label(x + 16, 528 + i * 15, 300, t, 10, "L", "dim")


# ---- top bar and program bar ---------------------------------------------------------------------------------

def top_bar_page():
    draw("bar", 0, 0, W, 37)
    draw("title", 12, 2, 110, 24, 19, "accent", "VEXMIR")
    draw("label", 13, 25, 104, 11, 10, "L", "dim", "MICROKORG EDITOR")
    well(734, 5, 112, 27, "lcd")
    well(870, 4, 394, 29, "lcd")
    draw("label", 1263, 1, 32, 9, 8, "C", "dim", "MIDI")
    draw("mono", 1266, 22, 12, 12, 9, "C", "dim", "1")
    draw("mono", 1280, 22, 12, 12, 9, "C", "dim", "2")
    # Program bar
    draw("fill", 0, 37, W, 44, "20242A")
    draw("fill", 0, 80, W, 1, "000000")


def top_bar_controls():
    current_tabs[:] = TABS_ALL.split(",")
    button("switch", 124, 6, "kShowLibrarian", "TAB_LIBRARIAN_ID", 110, 24, "Librarian")
    button("switch", 238, 6, "kShowModSequence", "TAB_MODSEQ_ID", 110, 24, "Mod Sequence")
    button("switch", 352, 6, "kGlobalSettings", "TAB_GLOBAL_ID", 110, 24, "Global Settings")
    # The tab number itself: held by an invisible field (the three tab buttons set it).
    element("dropMenu", type="dropSelection", name="Main Tab", paramId="kMainTab", bounds=(0, 0, 0, 0),
            valueList="mainTab", valueBounds=(2, 0, 5))
    use("kMainTab")
    button("autooff", 712, 7, "kPatchDown", "BUTTON_PREV_ID", 22, 24, "Program Down")
    # Longer than the synthesizer's 12 characters: a name typed longer is cut by the editor, which says so.
    element("dropMenu", type="nameSelection", name="Program Name", paramId="kPatchName", bounds=(736, 8, 108, 21),
            nameLen=24, paramGroup="Program")
    use("kPatchName")
    preview_text(736, 8, 108, 21, 14, "323C46", "-- INIT --")
    button("autooff", 846, 7, "kPatchUp", "BUTTON_NEXT_ID", 22, 24, "Program Up")
    # The status display: the timbre tag reads "[TIMBRE 1]", the name line also carries status messages (the
    # common ones, up to 23 characters, fit whole).
    display("kControlDisplayTimbre", 874, 7, 84, 23, 4, "[TIMBRE 1]", text_size=14)
    display("kControlDisplayName", 958, 7, 192, 23, 4, "Cutoff", text_size=14)
    display("kControlDisplayValue", 1150, 7, 52, 23, 4, "127", text_size=14)
    display("kControlDisplayCC", 1202, 7, 58, 23, 4, "---", text_size=14)
    element("switch", name="MIDI Timbre 1", paramId="kMIDILed", position=(1266, 9), imageId=LED[0],
            valueBounds=(0,))
    use("kMIDILed")
    preview(LED[1], 2, 1, 1266, 9)
    element("switch", name="MIDI Timbre 2", paramId="kMIDILed+1", position=(1280, 9), imageId=LED[0],
            valueBounds=(0,))
    use("kMIDILed+1")
    preview(LED[1], 2, 0, 1280, 9)
    button("autooff", 1298, 6, "kRequestTempData", "BUTTON_REQUEST_ID", 66, 24, "Request Program")
    button("autooff", 1368, 6, "kPushArrangement", "BUTTON_SEND_ID", 50, 24, "Send Program")
    button("autooff", 1420, 6, "kRandomize", "BUTTON_RANDOM_ID", 78, 24, "Randomize")


def midi_port_choosers():
    """The MIDI port choosers. They always belong to the surface itself, not to a layer, so they sit where every
    tab shows them: on the program bar, in a strip the librarian page also leaves free."""
    # As wide as the strip allows: port names are long ("Client:Port"), and the menu text is not clipped.
    for (lx, text, x, w, param, direction) in ((944, "MIDI OUT", 1000, 234, "kDeviceOutSelection", 0),
                                               (1238, "MIDI IN", 1288, 208, "kDeviceInSelection", 1)):
        draw("label", lx, 41, x - lx - 6, 16, 10, "R", "dim", text)
        well(x - 2, 40, w + 4, 19, "menu")
        element("dropMenu", type="deviceSelection", name="MIDI Setup", paramId=param, bounds=(x, 42, w - 10, 15),
                inputDev=(direction, 0))
        use(param)
        preview_text(x, 42, w - 10, 15, 15, "00AEFF", "OFF")


def timbre_control_layer():
    with Block("layer", name="timbreControlLayer", id=0, visible=1):
        element("radio", name="Timbre Select", paramId="kQuickTab", position=(472, 6), imageId="TAB_TIMBRE_ID",
                buttons=2)
        use("kQuickTab")
        preview("tabs-timbre.png", 2, 0, 472, 6)
        element("switch", name="Timbre Link", paramId="kLayerLinker", position=(656, 6), imageId="LINK_ID",
                valueBounds=(0,))
        use("kLayerLinker")
        preview("link.png", 2, 0, 656, 6)


def program_bar():
    current_tabs[:] = ["edit", "modseq", "global"]
    with Block("layer", name="miniMixer", id=0, visible=1):
        picture_from_page("Program Bar", "program-bar.png", 0, 37, 940, 44)
        menu(14, 40, 86, "Voice Mode", "kCommonMode", "voiceMode", bind=("se", 16), group="Program", default=2)
        menu(122, 40, 40, "Voices", "kCommonVoices", "voices", group="Program", default=1)
        lock(180, 56, "kSectionLockGlobal", "Program", wide=False)
        with Block("layer", name="splitPointLayer", id=0):
            knob(256, 44, "", "kCommonSplitPoint", 0, 127, default=60, small=True, group="Program",
                 name="Split Point", label_below=False)
        label(360, 44, 400, "TIMBRE 2 NEEDS VOICE MODE SPLIT OR LAYER.", 10, "L", "dim")
        label(360, 58, 400, "LINK: EDITS OF TIMBRE 1 ARE COPIED TO TIMBRE 2.", 10, "L", "dim")


def program_bar_labels():
    label(204, 54, 50, "SPLIT", 11, "R", "dim")


# ---- the whole description -----------------------------------------------------------------------------------

PAGE_HEADERS = {
    "bg": ("main-frame-bg.png", "main-frame-bg-black.png", W, H, 0, 0),
    "modseq": ("page-modseq.png", "page-modseq-black.png", W, H - 82, 0, 82),
    "global": ("page-global.png", "page-global-black.png", W, H - 82, 0, 82),
    "librarian": ("page-librarian.png", "page-librarian-black.png", W, H - 38, 0, 38),
    "libview": ("librarian-view.png", "librarian-view-black.png", 1076, 562, LIB_VIEW_X, LIB_VIEW_Y),
}


def tabs(*names):
    current_tabs[:] = list(names)


def build():
    xml.append('<?xml version="1.0" encoding="UTF-8"?>')
    xml.append("<!-- The Vexmir Editor's user-interface description. Written by tools/vexmir-layout/"
               "make_resources.py; schema in resources/README.md. -->")
    xml.append("<uiconfig>")
    for name, items in LISTS.items():
        emit("<valueList name=%s>%s</valueList>" % (quoteattr(name), "".join(
            "<item>%s</item>" % escape(i) for i in items)))

    # The background holds the top bar, the program bar and the edit tab's panels (the tab the editor opens on).
    top_bar_page()
    program_bar_labels()
    comment("Top bar: tabs, program name, status display, MIDI indicators, transfer buttons")
    tabs(*TABS_ALL.split(","))
    top_bar_controls()
    timbre_control_layer()
    midi_port_choosers()
    tabs("edit", "modseq", "global")
    program_bar()
    with Block("layer", name="multiModeMixer", id=0):
        pass

    with Block("layer", name="root", id=0, visible=1):
        with Block("layer", name="homeTab", id=0):
            pass
        comment("Tab 1: librarian")
        tabs("librarian")
        with OnPage("librarian"), Block("layer", name="patchLibrarian", id=1):
            element("image", name="Librarian Page", imageId="PAGE_LIBRARIAN_ID", position=(0, 38), overlay=1)
            preview("page-librarian.png", 1, 0, 0, 38)
            librarian_page()
            librarian_controls()
        comment("Tab 2: the sound editor, one copy per timbre; effects, EQ and arpeggiator once")
        tabs("edit")
        with Block("multilayer", name="mainOscLayer", id=2, copyNames="mainOscTimbre1,mainOscTimbre2"):
            with Block("shared"):
                picture_from_page("Page Edit", "page-edit.png", 0, 82, W, H - 82)
            timbre_sections()
            with Block("shared"):
                section_effects()
        comment("Tab 3: modulation sequences")
        tabs("modseq")
        with OnPage("modseq"), Block("multilayer", name="modSequence", id=3,
                                     copyNames="modSequenceTimbre1,modSequenceTimbre2"):
            with Block("shared"):
                element("image", name="Mod Sequence Page", imageId="PAGE_MODSEQ_ID", position=(0, 82), overlay=1)
                preview("page-modseq.png", 1, 0, 0, 82)
                modseq_page()
                modseq_displays()
            modseq_settings_row()
            modseq_copy()
        comment("Tab 4: global settings")
        tabs("global")
        with OnPage("global"), Block("layer", name="globalSettings", id=4):
            element("image", name="Global Page", imageId="PAGE_GLOBAL_ID", position=(0, 82), overlay=1)
            preview("page-global.png", 1, 0, 0, 82)
            vel = global_page_and_controls()

    comment("Layers the tab logic shows and hides by name")
    tabs("edit")
    delay_time_layers()
    tabs("global")
    with OnPage("global"):
        with Block("layer", name="velocityLevelLayer", id=0):
            knob(vel[0], vel[1], "Velocity", "kMasterVelocityValue", 1, 127, default=64, group="Global",
                 name="Const Velocity")
        with Block("layer", name="midiSettingsButton", id=0):
            pass
        with Block("layer", name="midiFilterSettings", id=0, overlay=1, repaintWhenHidden=1):
            pass
    tabs("librarian")
    with OnPage("librarian"):
        librarian_layers()
        librarian_static_labels()
    tabs("edit", "modseq", "global")
    with Block("layer", name="releaseAllLocksLayer", id=0):
        button("autooff", 640, 46, "kReleaseAllLocks", "BUTTON_UNLOCK_ID", 96, 24, "Release All Locks")
    with Block("layer", name="aboutWindow", id=0, overlay=1, repaintWhenHidden=1):
        pass
    tabs()
    with Block("layer", name="firstRunNotification", id=0, overlay=1, repaintWhenHidden=1):
        element("image", name="First Run Notice", imageId="DIALOG_ID", position=(490, 200), overlay=1)
        button("autooff", 890, 392, "kFirstRunExit", "BUTTON_OK_ID", 90, 24, "Close First Run Notice", overlay=1)
    comment("The colour scheme \"black\": every picture and knob in its black version")
    with Block("style", name="black"):
        for a, b in BLACK_ALIASES + [(name, name.replace("_ID", "_BLACK_ID")) for name, _ in PICTURES]:
            element("imageAlias", name=a, use=b)
    xml.append("</uiconfig>")
    with OnPage("libview"):
        librarian_view_picture()


def layout_lines():
    out = ["# Drawing list of tools/vexmir-images, written by tools/vexmir-layout/make_resources.py (do not edit)."]
    for name in PAGE_ORDER:
        out.append(line_of("page", *PAGE_HEADERS[name]))
        out.extend(pages[name])
    for t in TABS_ALL.split(","):
        out.append(line_of("tab", t))
    out.extend(previews)
    return out


def write(path, lines):
    with open(os.path.join(ROOT, path), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    build()
    write("resources/uiconfig.xml", xml)
    sx = ['<?xml version="1.0" encoding="UTF-8"?>',
          "<!-- SysEx templates of the SysEx-bound controls: parameter change 41, parameter number of timbre 1 at"
          " elements 4 and 5, value at element 6 (changingByte 7). Written by tools/vexmir-layout/"
          "make_resources.py. -->",
          "<sysex>"]
    for name, template in sysex:
        sx.append("  <entry name=%s><line>%s</line></entry>" % (quoteattr(name), template))
    sx.append("</sysex>")
    write("resources/sysex.xml", sx)
    write("resources/layout.txt", layout_lines())
    rows = [("PAGE_MODSEQ_BLACK_ID", "page-modseq-black.png"), ("PAGE_GLOBAL_BLACK_ID", "page-global-black.png"),
            ("PAGE_LIBRARIAN_BLACK_ID", "page-librarian-black.png"),
            ("LIBRARIAN_VIEW_BLACK_ID", "librarian-view-black.png")]
    seen = set()
    for name, file in PICTURES:
        if name in seen:
            continue
        seen.add(name)
        rows.append((name, file))
        rows.append((name.replace("_ID", "_BLACK_ID"), file.replace(".png", "-black.png")))
    table_path = os.path.join(ROOT, "resources/ImageTable.inc")
    text = open(table_path).read()
    begin, end = "// ---- pictures of the layout tool ----\n", "// ---- end of the layout tool's pictures ----\n"
    if begin in text:
        text = text[:text.index(begin)] + text[text.index(end) + len(end):]
    text += begin + "".join('VEXMIR_IMAGE("%s", %d, "%s", 1, false)\n' % (n, TABLE_FIRST_ID + i, f)
                            for i, (n, f) in enumerate(rows)) + end
    open(table_path, "w").write(text)
    print("controls for %d parameters, %d SysEx entries" % (len(used_params), len(sysex)))


if __name__ == "__main__":
    main()
