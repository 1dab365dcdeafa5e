// The colours and sizes of the editor's look, shared by the control images and the pages.
#pragma once

namespace images {

struct Theme {
  unsigned frameBg;  // the editor's body
  unsigned barBg;    // top bar and program bar
  unsigned panelBg;  // section panels
  unsigned panelEdge;
  unsigned titleBg;  // title strip of a panel
  unsigned titleText;
  unsigned labelText;
  unsigned dimText;
  unsigned accent;   // value arcs, lit buttons (the menus' orange)
  unsigned accent2;  // timbre 2 / secondary
  unsigned well;     // menu and text wells
  unsigned wellEdge;
  unsigned lcd;  // the status display and name fields (dark text on it)
  unsigned lcdEdge;
  unsigned knobBody;
  unsigned knobBodyLo;
  unsigned knobTrack;
  unsigned pointer;
};

// "normal" and "black" colour schemes.
const Theme& normalTheme();
const Theme& blackTheme();

}  // namespace images
