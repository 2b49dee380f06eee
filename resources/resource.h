// Control IDs of the options dialog, shared by the template (roundcorner.rc)
// and the dialog procedure. Plain defines only: the resource compiler reads
// this file too.
#pragma once

#define IDC_SWATCH 1000     // framed static that shows the background colour
#define IDC_RADIUS 1002     // edit box holding the radius as text
#define IDC_PICKCOLOR 1003  // button that opens the colour chooser
#define IDC_SPIN 1006       // up-down control; the template's one stays hidden
#define IDC_SMOOTH 1007     // check box for the edge smoothing pass
