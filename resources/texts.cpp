#include "texts.h"

const char MAIN_CLASS_NAME[] = "ClassePrincipale";
const char SURFACE_CLASS_NAME[] = "Ogl32";
const char MAIN_WINDOW_TITLE[] = "KESSARANDOLIN MOD EXTRACTOR";
const char SURFACE_WINDOW_TITLE[] = "GL";

const char REGISTER_CLASS_FAILED[] = "erreur register class";
const char CREATE_WINDOW_FAILED[] = "erreur CreateWindow";

const char ORIGINAL_FIELD_PROMPT[] = "Path to the backup of the Kessarandolin Original DATA folder";
const char MODDED_FIELD_PROMPT[] = "Path to the Kessarandolin Modded DATA folder";
const char DESTINATION_FIELD_PROMPT[] = "Destination mod folder";
const char BROWSE_LABEL[] = "BROWSE";
const char CREATE_MOD_LABEL[] = "Create MOD";
const char CONTROL_FONT_FACE[] = "Arial";

const char ORIGINAL_BROWSER_TITLE[] = "original data folder";
const char MODDED_BROWSER_TITLE[] = "modded data folder";
const char DESTINATION_BROWSER_TITLE[] = "destination data folder";

const char HELP_CAPTION[] = "---HELP---";
const char HELP_TEXT[] =
    "----------------------------------------------------------------\n"
    "                 KESSARANDOLIN MOD EXTRACTOR                    \n"
    "----------------------------------------------------------------\n"
    "aide du programme\n"
    "\n"
    "ce programme d\xE9tecte toutes modifications faite dans le r\xE9pertoire et les sous-r\xE9pertoires  \"DATA\" du jeu, et cr\xE9\xE9 un mod unique contenant toutes les modifications que vous avez faites ou tous les mods que vous avez install\xE9s\n"
    "\n"
    "1) installez kessarandolin\n"
    "2) faites une copie du r\xE9pertoire original \"DATA\" du r\xE9pertoire d'installation de kessarandolin vers un autre emplacement\n"
    "3) modez ou installer plusieurs mods comme d'habitude, jouez et testez\n"
    "4) lancez mod extractor\n"
    "5) le mod est cr\xE9\xE9 dans le r\xE9pertoire cible\n"
    "----------------------------------------------------------------\n"
    "software help .... scuz my english sucks\n"
    "\n"
    "this software detect all modifications you did in the game \"\\DATA\" folder (and subdirectories) then create an unique mod containing all modifications you did or all mods you installed\n"
    "\n"
    "1) install kessarandolin\n"
    "2) copy the original \"DATA\" folder from the kessarandolin install directory to another place\n"
    "3) mod or install mods like usual. play & test\n"
    "4) launch mod extractor\n"
    "5) mod is created in the target directory\n"
    "----------------------------------------------------------------\n";

const char ERROR_CAPTION[] = "erreur/error";
const char DIFFERENT_FOLDERS_TEXT[] = "s\xE9lectionnez des repertoires diff\xE9rents\nselect different folders";

const char REFUSAL_EMPTY_TEXT[] = "s\xE9lectionnez les trois r\xE9pertoires\nselect all three folders";
const char REFUSAL_TOO_LONG_TEXT[] = "chemin trop long\npath too long";
const char REFUSAL_UNUSABLE_TEXT[] = "r\xE9pertoire introuvable ou inutilisable\nfolder not found or unusable";
const char REFUSAL_SAME_FOLDER_TEXT[] =
    "le m\xEAme r\xE9pertoire est choisi deux fois\nthe same folder is chosen twice";
const char REFUSAL_NESTED_TEXT[] =
    "un r\xE9pertoire est dans l'autre\none folder lies inside the other";
const char REFUSAL_DATA_OVERLAPS_INPUT_TEXT[] =
    "le r\xE9pertoire Data de la cible touche un r\xE9pertoire lu\n"
    "the target's Data folder is, holds or lies inside a folder that is only read";
const char REFUSAL_DATA_BESIDE_INPUT_TEXT[] =
    "le r\xE9pertoire Data de la cible serait \xE0 c\xF4t\xE9 d'un r\xE9pertoire lu du m\xEAme nom, \xE0 la casse pr\xE8s\n"
    "the target's Data folder would stand beside a folder that is only read, named alike but for letter case";
const char REFUSAL_DATA_UNWRITABLE_TEXT[] =
    "le r\xE9pertoire Data de la cible ne peut pas \xEAtre \xE9" "crit\n"
    "the target's Data folder cannot be made or written";
const char REFUSAL_DESTINATION_BUSY_TEXT[] =
    "une autre extraction \xE9" "crit d\xE9j\xE0 dans la cible, r\xE9" "essayez quand elle sera termin\xE9" "e\n"
    "another extraction is writing into the target; try again once it has ended";

const char JOB_NOT_STARTED_TEXT[] =
    "impossible de lancer l'extraction\nthe extraction could not be started";

const char JOB_FAILURES_FORMAT[] =
    "%u fichier(s) ou r\xE9pertoire(s) en \xE9" "chec, le mod est incomplet\n"
    "%u path(s) failed, the mod is incomplete";
const char JOB_WARNINGS_FORMAT[] = "%u avertissement(s)\n%u warning(s)";
const char JOB_MORE_FAILURES_FORMAT[] = "\x85 et %u autre(s)\n\x85 and %u more";
const char JOB_STALE_FORMAT[] =
    "%u fichier(s) du r\xE9pertoire Data ne viennent pas de cette extraction et restent dans le mod\n"
    "%u file(s) in the Data folder did not come from this job and ride along in the mod";
const char JOB_STALE_ADVICE[] =
    "extrayez dans un r\xE9pertoire vide, ou supprimez-les \xE0 la main (rien n'est supprim\xE9)\n"
    "extract into an empty folder, or remove them by hand (nothing is deleted)";
const char JOB_REMOVED_FORMAT[] =
    "%u fichier(s) de la sauvegarde manquent au jeu modd\xE9 : un mod ne peut pas supprimer de fichier\n"
    "%u file(s) of the backup are gone from the modded folder: a mod cannot carry a removal";
const char NOTICE_CAPTION[] = "attention/notice";

const char JOB_DONE_FORMAT[] =
    "extraction termin\xE9" "e : %u nouveau(x), %u modifi\xE9(s), %u d\xE9j\xE0 en place\n"
    "extraction done: %u new, %u changed, %u already in place";
const char JOB_NOTHING_FORMAT[] =
    "extraction termin\xE9" "e : %u fichier(s), rien de nouveau ni de modifi\xE9, rien n'est \xE9" "crit\n"
    "extraction done: %u file(s), nothing new or changed, nothing written";
const char QUESTION_GO_ON[] = "continuer ? / go on?";
const char QUESTION_DATA_NAMED_TEXT[] =
    "le r\xE9pertoire cible s'appelle d\xE9j\xE0 Data : le mod sera cr\xE9\xE9 dans\n"
    "the destination folder is already named Data: the mod will be made in";
const char QUESTION_TREES_APART_FORMAT[2][200] = {
    "%u fichier(s) sur les %u de la sauvegarde se retrouvent dans le jeu modd\xE9 : "
    "un r\xE9pertoire est peut-\xEAtre choisi un niveau trop haut ou trop bas",
    "only %u of the backup's %u files are found in the modded folder: a folder may be chosen one level off",
};
const TopWords QUESTION_TOP_WORDS[2] = {
    {"la sauvegarde contient ", "le jeu modd\xE9 contient ", "rien", "un r\xE9pertoire", "un fichier",
     "%u r\xE9pertoires", "%u fichiers", "%u r\xE9pertoire(s) et %u fichier(s)", " : "},
    {"the backup holds ", "the modded folder holds ", "nothing", "one folder", "one file", "%u folders",
     "%u files", "%u folder(s) and %u file(s)", ": "},
};

const char ORIGINAL_LABEL[] = "backup of the original DATA folder";
const char MODDED_LABEL[] = "your modded game DATA folder";
const char DESTINATION_LABEL[] = "destination folder for the mod";
const char READY_TEXT[] = "READY";
const char ORIGINAL_INDEX_TEXT[] = "CREATE ORIGINAL FILES INDEX";
const char MODDED_INDEX_TEXT[] = "CREATE MODDED FILES INDEX";
const char DEEP_SCAN_TEXT[] = "DEEP FILES SCANNING";
const char CREATING_MOD_TEXT[] = "CREATING MOD";

const char CreditText[] =
    "Kessarandolin mod extractor..... code VARNEK-7..... programme d\xE9" "di\xE9"
    " \xE0 la communaut\xE9"
    " des moders/users de kessarandolin. j'espere qu'il servira.... "
    "dedicated to the moders/users community of kessarandolin. Hope it will help...";
static_assert(sizeof(CreditText) == 224 + 1, "the credit line is drawn whole");

const char GL_DC_FAILED[] = "gl DC failure";
const char GL_DC_CAPTION[] = "OGL error";
const char PIXEL_FORMAT_FAILED[] = "pixelformat error";
const char SET_PIXEL_FORMAT_FAILED[] = "set pixelformat error";
const char PIXEL_FORMAT_CAPTION[] = "OPENGL";
