/* Control ids of the directory chooser DIRLIST, shared by its template (in
   the resources of both programs) and its procedure. Only #defines. */
#ifndef PARCELO_RESOURCES_DIRLIST_IDS_H
#define PARCELO_RESOURCES_DIRLIST_IDS_H

#define IDC_DIRLIST_PATH 104
#define IDC_DIRLIST_VISIBLE 106
#define IDC_DIRLIST_RAW 109

#endif
