// The message table and the map from error code to message. Catalogs
// translate by index, so a row never changes its index once released.
#include "core/errors/qx_messages.h"

extern "C" const qxErrorMessage qxErrorMessages[QX_MSG_COUNT] = {
    {0, "No error occurred!"}, // QX_MSG_NOERROR
    {1, "Out of memory!"}, // 1000 ERR_MEM
    {2, "This command is not implemented!"}, // 1001 ERR_UNIMPLCMD
    {3, "Function does not return a value!"}, // 1002 ERR_NORETVAL
    {4, "User abort!"}, // 1003 ERR_USERABORT
    {5, "Error opening screen!"}, // 1004 ERR_SCREEN
    {6, "Could not write all characters to file!\nCheck if there is enough free space!"}, // 1005 ERR_WRITE
    {7, "Unterminated string!"}, // 1006 ERR_UNTERMINTDSTR
    {8, "Unknown condition!"}, // 1007 ERR_UNKNOWNCOND
    {9, "Missing separator!"}, // 1008 ERR_MISSINGSEPARTR
    {10, "Could not read all characters from file!\nCheck if it is read protected!"}, // 1009 ERR_READ
    {11, "Unable to open window!"}, // 1010 ERR_WINDOW
    {12, "Else without If!"}, // 1011 ERR_ELSEWOIF
    {13, "EndIf without If!"}, // 1012 ERR_ENDIFWOIF
    {14, "If without EndIf!"}, // 1013 ERR_IFWOENDIF
    {15, "Not enough arguments!"}, // 1014 ERR_MISSINGPARAMTR
    {16, "For without Next!"}, // 1015 ERR_FORWONEXT
    {17, "Next without For!"}, // 1016 ERR_NEXTWOFOR
    {18, "While without Wend!"}, // 1017 ERR_WHILEWOWEND
    {19, "General syntax error!"}, // 1018 ERR_SYNTAXERROR
    {20, "Wrong data type specified!"}, // 1019 ERR_WRONGDTYPE
    {21, "Syntax error in variable name!"}, // 1020 ERR_VARSYNTAX
    {22, "Wend without While!"}, // 1021 ERR_WENDWOWHILE
    {23, "Unknown command!"}, // 1022 ERR_UNKNOWNCMD
    {24, "Missing bracket!"}, // 1023 ERR_MISSINGBRACKET
    {25, "Value expected!"}, // 1024 ERR_VALUEEXPECTED
    {26, "Cannot open library!"}, // 1025 ERR_OPENLIB
    {27, "Variable expected!"}, // 1026 ERR_VAREXPECTED
    {28, "Label declarations are not allowed inside a For loop!"}, // 1027 ERR_LABINFOR
    {29, "Label declarations are not allowed inside an If block!"}, // 1028 ERR_LABINIF
    {30, "Label declarations are not allowed inside a While loop!"}, // 1029 ERR_LABINWHILE
    {31, "Wrong operator for this type!"}, // 1030 ERR_WRONGOP
    {32, "Cannot read icon!"}, // 1031 ERR_GETDISKOBJ
    {33, "Event expected!"}, // 1032 ERR_EVNTEXPCTED
    {34, "Object is empty!"}, // 1033 ERR_EMPTYOBJ
    {35, "Script is empty!"}, // 1034 ERR_EMPTYSCRIPT
    {36, "Invalid comment structure!"}, // 1035 ERR_COMMENTSTRUCT
    {37, "Object was already declared!"}, // 1036 ERR_ALRDYDECLRD
    {38, "Invalid floating point number!"}, // 1037 ERR_WRONGFLOAT
    {39, "Required field is missing!"}, // 1038 ERR_REQUIREFIELD
    {40, "Value is out of range!"}, // 1039 ERR_OUTOFRANGE
    {41, "Return without Gosub!"}, // 1040 ERR_RETWOGOSUB
    {42, "Requested object not found!"}, // 1041 ERR_FINDARRAY
    {43, "Constant not found!"}, // 1042 ERR_FINDCST
    {44, "Cannot lock file!"}, // 1043 ERR_LOCK
    {45, "Cannot load picture %s !"}, // 1044 ERR_LOADPICTURE
    {46, "Cannot read file %s !"}, // 1045 ERR_READFILE
    {47, "This module is not in Protracker format!"}, // 1046 ERR_NOTPROTRACKER
    {48, "Unknown sequence!"}, // 1047 ERR_UNKNOWNSEQ
    {49, "Cannot lock directory!"}, // 1048 ERR_DIRLOCK
    {50, "Unknown keyword!"}, // 1049 ERR_KEYWORD
    {51, "This feature requires a newer operating system version!"}, // 1050 ERR_KICKSTART
    {52, "Cannot free the active BGPic!"}, // 1051 ERR_FREEABGPIC
    {53, "Cannot write to file %s !"}, // 1052 ERR_WRITEFILE
    {54, "Wrong version!"}, // 1053 ERR_VERSION
    {55, "Function not found!"}, // 1054 ERR_NOFUNCTION
    {56, "Wrong usage/parameters for this command!\nRead the documentation!"}, // 1055 ERR_WRONGUSAGE
    {57, "This command cannot be used when SelectBGPic() is active!"}, // 1056 ERR_SELECTBG
    {58, "Array was already declared!"}, // 1057 ERR_ARRAYDECLA
    {59, "Command names cannot be used as variables!"}, // 1058 ERR_CMDASVAR
    {60, "Error in configuration!"}, // 1059 ERR_CONFIG
    {61, "Wrong arguments specified!"}, // 1060 ERR_ARGS
    {62, "Double declaration!"}, // 1061 ERR_DOUBLEDECLA
    {63, "Equal sign expected!"}, // 1062 ERR_EQUALEXPECTED
    {64, "Cannot open anim %s !"}, // 1063 ERR_OPENANIM
    {65, "Cannot open sound file %s !"}, // 1065 ERR_OPENSOUND
    {66, "Internal limit encountered! Contact the author..."}, // 1066 ERR_INTERNAL
    {67, "Cannot open public screen!"}, // 1067 ERR_PUBSCREEN
    {68, "Cannot modify a brush that is linked to another object!"}, // 1068 ERR_BRUSHLINK
    {69, "Wrong identifier specified!"}, // 1069 ERR_WRONGID
    {70, "Cannot open audio device!"}, // 1070 ERR_AHI
    {71, "Variable name is too long!"}, // 1071 ERR_VARLENGTH
    {72, "Label not found!"}, // 1072 ERR_LABELDECLA
    {73, "Label was already declared!"}, // 1073 ERR_LABELDOUBLE
    {74, "No keywords specified!"}, // 1074 ERR_NOKEYWORDS
    {75, "No constants specified!"}, // 1075 ERR_NOCONSTANTS
    {76, "Seek error!"}, // 1076 ERR_SEEK
    {77, "Constant #%s was already declared!"}, // 1077 ERR_CSTDOUBLEDEF
    {78, "This function requires enabled layers!"}, // 1078 ERR_NOLAYERS
    {79, "This object type does not support layers!"}, // 1079 ERR_LAYERSUPPORT
    {80, "Unknown attribute specified!"}, // 1080 ERR_UNKNOWNATTR
    {81, "Specified layer is out of range!"}, // 1081 ERR_LAYERRANGE
    {82, "This command cannot be used when SelectBrush() is active!"}, // 1082 ERR_SELECTBRUSH
    {83, "Unknown pointer format!"}, // 1083 ERR_POINTERFORMAT
    {84, "Error creating directory %s !"}, // 1084 ERR_CREATEDIR
    {85, "Unable to change display size to %s !"}, // 1085 ERR_DISPLAYSIZE
    {86, "You cannot specify an initial BGPic together with DISPLAYDESKTOP!"}, // 1086 ERR_DISPLAYDESKTOP
    {87, "Error initializing graphics conversion!"}, // 1087 ERR_GUIGFX
    {88, "Error rendering graphics!"}, // 1088 ERR_RENDER
    {89, "Division by zero!"}, // 1089 ERR_ZERODIVISION
    {90, "Invalid position specified!"}, // 1090 ERR_WARPOS
    {91, "Unknown error code!"}, // QX_MSG_UNKNOWNCODE
    {92, "current line"}, // QX_MSG_CURRENTLINE
    {93, "String constant expected!"}, // 1092 ERR_STRINGCST
    {94, "Label declarations are not allowed inside functions!"}, // 1093 ERR_LABINFUNC
    {95, "Specified animation frame is out of range!"}, // 1094 ERR_ANIMFRAME
    {96, "Repeat without Until!"}, // 1095 ERR_REPEATWOUNTIL
    {97, "Until without Repeat!"}, // 1096 ERR_UNTILWOREPEAT
    {98, "Function without EndFunction!"}, // 1097 ERR_FUNCWOENDFUNC
    {99, "EndFunction without Function!"}, // 1098 ERR_ENDFUNCWOFUNC
    {100, "Unexpected symbol!"}, // 1099 ERR_UNEXPECTEDSYM
    {101, "Invalid function arguments!"}, // 1100 ERR_FUNCARGS
    {102, "No loop to break from!"}, // 1101 ERR_NOLOOP
    {103, "Token expected!"}, // 1102 ERR_TOKENEXPECTED
    {104, "Opening bracket expected!"}, // 1103 ERR_BRACKETOPEN
    {105, "Closing bracket expected!"}, // 1104 ERR_BRACKETCLOSE
    {106, "Opening brace expected!"}, // 1105 ERR_BRACEOPEN
    {107, "Closing brace expected!"}, // 1106 ERR_BRACECLOSE
    {108, "Opening square bracket expected!"}, // 1107 ERR_SQBRACKETOPEN
    {109, "Closing square bracket expected!"}, // 1108 ERR_SQBRACKETCLOSE
    {110, "Comma expected!"}, // 1109 ERR_NOCOMMA
    {111, "Too many syntax levels!"}, // 1110 ERR_SYNTAXLEVELS
    {112, "While condition is too complex!"}, // 1111 ERR_COMPLEXWHILE
    {113, "Character expected!"}, // 1112 ERR_NOCHAR
    {114, "Character constant is too long!"}, // 1113 ERR_CHRCSTLEN
    {115, "Character constant is empty!"}, // 1114 ERR_CHRCSTEMPTY
    {116, "Decimal point not allowed in hexadecimal numbers!"}, // 1115 ERR_HEXPOINT
    {117, "Numbers cannot be concatenated here!"}, // 1116 ERR_NUMCONCAT
    {118, "Too many local variables!"}, // 1117 ERR_MAXLOCALS
    {119, "Too many upvalues!"}, // 1118 ERR_MAXUPVALS
    {120, "Too many parameters!"}, // 1119 ERR_MAXPARAMS
    {121, "Too many items in constructor!"}, // 1120 ERR_CONITEMS
    {122, "Too many lines in script!"}, // 1121 ERR_MAXLINES
    {123, "Expression is too complex!"}, // 1122 ERR_COMPLEXEXPR
    {124, "Control structure is too long!"}, // 1123 ERR_CTRLSTRUCT
    {125, "Colon expected!"}, // 1124 ERR_NOCOLON
    {126, "Case constant expected!"}, // 1125 ERR_CASECST
    {127, "Switch without EndSwitch!"}, // 1126 ERR_SWCHWOENDSWCH
    {128, "EndSwitch without Switch!"}, // 1127 ERR_ENDSWCHWOSWCH
    {129, "Block without EndBlock!"}, // 1128 ERR_BLKWOENDBLK
    {130, "EndBlock without Block!"}, // 1129 ERR_ENDBLKWOBLK
    {131, "Attempt to compare a number with a string!"}, // 1130 ERR_NUMSTRCMP
    {132, "Wrong data types for concatenation!"}, // 1131 ERR_CONCAT
    {133, "Table %s not found!"}, // 1132 ERR_TABLEDECLA
    {134, "Function %s not found!"}, // 1133 ERR_FUNCDECLA
    {135, "Internal limit reached! Error code %s."}, // 1134 ERR_INTERNAL1
    {136, "Stack overflow!"}, // 1135 ERR_STACK
    {137, "Code size overflow!"}, // 1136 ERR_MEMCODE
    {138, "Too many constants!"}, // 1137 ERR_MEMCST
    {139, "Number expected in argument %d!"}, // 1138 ERR_NUMEXPECTED
    {140, "String expected in argument %d!"}, // 1139 ERR_STREXPECTED
    {141, "Table expected in argument %d!"}, // 1140 ERR_TABEXPECTED
    {142, "File was opened in read-only mode!"}, // 1141 ERR_READONLY
    {143, "File was opened in write-only mode!"}, // 1142 ERR_WRITEONLY
    {144, "Could not delete file!"}, // 1143 ERR_DELETEFILE
    {145, "Could not examine %s!"}, // 1144 ERR_EXAMINE
    {146, "Could not rename file!"}, // 1145 ERR_RENAME
    {147, "Specified offset is out of range!"}, // 1146 ERR_MEMRANGE
    {148, "This command cannot be used when SelectMask() is active!"}, // 1147 ERR_SELECTMASK
    {149, "Attempt to modify the active BGPic!"}, // 1148 ERR_MODIFYABG
    {150, "Attempt to modify the active brush!"}, // 1149 ERR_MODIFYABR
    {151, "Cannot jump into or out of a function!"}, // 1150 ERR_FUNCJMP
    {152, "Reserved word expected!"}, // 1151 ERR_REVDWORD
    {153, "Could not lock bitmap!"}, // 1152 ERR_LOCKBMAP
    {154, "This function does not work on palette screens!"}, // 1153 ERR_PALSCREEN
    {155, "Negative coordinates are not allowed here!"}, // 1154 ERR_NEGCOORDS
    {156, "Specified layer is not an anim layer!"}, // 1155 ERR_NOANMLAYER
    {157, "Brush size does not match specified arguments!"}, // 1156 ERR_BRUSHSIZE
    {158, "EndWith without With!"}, // 1157 ERR_ENDWITHWOWITH
    {159, "With without EndWith!"}, // 1158 ERR_WITHWOENDWITH
    {160, "Table field %s was not initialized!"}, // 1159 ERR_FIELDINIT
    {161, "Labels must be declared in the main block!"}, // 1160 ERR_LABMAINBLK
    {162, "Layer name was already assigned!"}, // 1161 ERR_NAMEUSED
    {163, "Layers must be turned off when using this function!"}, // 1162 ERR_LAYERSOFF
    {164, "Layers cannot be turned on/off while off-screen rendering is active!"}, // 1163 ERR_LAYERSON
    {165, "No loop to continue!"}, // 1164 ERR_NOLOOPCONT
    {166, "Loop number is out of range!"}, // 1165 ERR_LOOPRANGE
    {167, "Integer value expected!"}, // 1166 ERR_INTEXPECTED
    {168, "This command cannot be used when SelectAlphaChannel() is active!"}, // 1167 ERR_SELECTALPHACHANNEL
    {169, "Specified pixel is out of range!"}, // 1168 ERR_PIXELRANGE
    {170, "Cannot load alpha channel of this image format!"}, // 1169 ERR_DATATYPEALPHA
    {171, "Image \"%s\" does not have an alpha channel!"}, // 1170 ERR_NOALPHA
    {172, "Unknown pixel format detected! Zephyrane cannot run on this screen!"}, // 1171 ERR_PIXELFORMAT
    {173, "This brush does not have a mask!"}, // 1172 ERR_NOMASKBRUSH
    {174, "Forever without Repeat!"}, // 1173 ERR_FOREVERWOREPEAT
    {175, "Could not find brush %d!"}, // 1174 ERR_FINDBRUSH
    {176, "Could not find text object %d!"}, // 1175 ERR_FINDTEXTOBJECT
    {177, "Could not find anim %d!"}, // 1176 ERR_FINDANIM
    {178, "Could not find BGPic %d!"}, // 1177 ERR_FINDBGPIC
    {179, "Could not find sample %d!"}, // 1178 ERR_FINDSAMPLE
    {180, "Could not find file handle %d!"}, // 1179 ERR_FINDFILE
    {181, "Could not find memory block %d!"}, // 1180 ERR_FINDMEMBLK
    {182, "Could not find timer %d!"}, // 1181 ERR_FINDTIMER
    {183, "Could not find move queue %d!"}, // 1182 ERR_FINDMOVE
    {184, "String or number expected in argument %d!"}, // 1183 ERR_STRORNUM
    {185, "Invalid percent format in argument %d!"}, // 1184 ERR_PERCENTFORMAT
    {186, "Function expected in argument %d!"}, // 1185 ERR_FUNCEXPECTED
    {187, "Unmatched parentheses!"}, // 1186 ERR_UNMPARENTHESES
    {188, "This operator cannot be used here!"}, // 1187 ERR_WRONGOPCST
    {189, "Could not find button %d!"}, // 1188 ERR_FINDBUTTON
    {190, "Number expected in table argument \"%s\"!"}, // 1189 ERR_NUMTABLEARG
    {191, "Callback function was expected to return a number!"}, // 1190 ERR_NUMCALLBACK
    {192, "A BGPic needs to be active while calling button functions!"}, // 1191 ERR_BGPICBUTTON
    {193, "Invalid hexadecimal number!"}, // 1192 ERR_WRONGHEX
    {194, "File"}, // QX_MSG_FILE
    {195, "Too many arguments for this function!"}, // 1193 ERR_TOOMANYARGS
    {196, "Could not find interval function %d!"}, // 1194 ERR_FINDINTERVAL
    {197, "Could not find timeout function %d!"}, // 1195 ERR_FINDTIMEOUT
    {198, "Cannot load sound %s !"}, // 1196 ERR_LOADSOUND
    {199, "String expected!"}, // 1197 ERR_STRINGEXPECTED
    {200, "Unexpected end of file!"}, // 1198 ERR_UNEXPECTEDEOF
    {201, "Virtual machine data type mismatch!"}, // 1199 ERR_VMMISMATCH
    {202, "Bad integer in bytecode!"}, // 1200 ERR_BADINTEGER
    {203, "Bad upvalues in bytecode!"}, // 1201 ERR_BADUPVALUES
    {204, "Bad constant type in bytecode!"}, // 1202 ERR_BADCONSTANT
    {205, "Bad bytecode!"}, // 1203 ERR_BADBYTECODE
    {206, "Bad bytecode signature!"}, // 1204 ERR_BADSIGNATURE
    {207, "Unknown number format in bytecode!"}, // 1205 ERR_UNKNUMFMT
    {208, "Invalid key for next table item!"}, // 1206 ERR_INVNEXTKEY
    {209, "Table overflow!"}, // 1207 ERR_TABLEOVERFLOW
    {210, "Table index is NaN!"}, // 1208 ERR_TABLEINDEX
    {211, "This applet requires at least Zephyrane %s!"}, // 1209 ERR_APPLETVERSION
    {212, "Unknown section in applet!"}, // 1210 ERR_UNKNOWNSEC
    {213, "%s is no Zephyrane applet!"}, // 1211 ERR_NOAPPLET
    {214, "This applet was made by an incompatible version of Zephyrane!"}, // 1212 ERR_PLAYERCOMP
    {215, "File %s does not exist!"}, // 1213 ERR_FILEEXIST
    {216, "Invalid key!"}, // 1214 ERR_MAGICKEY
    {217, "Could not find clip region %d!"}, // 1215 ERR_FINDCLIPREGION
    {218, "This function has been removed!"}, // 1216 ERR_FUNCREMOVED
    {219, "Specified coordinates are out of range!"}, // 1217 ERR_COORDSRANGE
    {220, "Width/height values must be greater than 0!"}, // 1218 ERR_BADDIMENSIONS
    {221, "Could not find sprite %d!"}, // 1219 ERR_FINDSPRITE
    {222, "Sprite %d is not on screen!"}, // 1220 ERR_SPRITEONSCREEN
    {223, "Unknown preprocessor command!"}, // 1221 ERR_PREPROCSYM
    {224, "Unknown tag \"%s\"!"}, // 1222 ERR_UNKNOWNTAG
    {225, "Mask and alpha channel are mutually exclusive!"}, // 1223 ERR_MASKNALPHA
    {226, "Please remove all sprites first!"}, // 1224 ERR_NOSPRITES
    {227, "Clip region does not fit into the output device's dimensions!"}, // 1225 ERR_WRONGCLIPREG
    {228, "No clip region is installed!"}, // 1226 ERR_NOCLIPREG
    {229, "Cannot modify a sprite that is on screen!"}, // 1227 ERR_MODIFYSPRITE
    {230, "Cannot modify a linked sprite!"}, // 1228 ERR_MODIFYSPRITE2
    {231, "Please end double buffering first!"}, // 1229 ERR_ENDDOUBLEBUFFER
    {232, "Double buffering is currently not supported for transparent displays!"}, // 1230 ERR_DBTRANSWIN
    {233, "Could not find music %d!"}, // 1231 ERR_FINDMUSIC
    {234, "Music is not playing!"}, // 1232 ERR_MUSNOTPLYNG
    {235, "Specified seek position is out of range!"}, // 1233 ERR_SEEKRANGE
    {236, "Music and modules cannot be mixed!"}, // 1234 ERR_MIXMUSMOD
    {237, "Unknown music format!"}, // 1235 ERR_UNKNOWNMUSFMT
    {238, "This music format is not supported!"}, // 1236 ERR_MUSFMTSUPPORT
    {239, "Table or Nil expected!"}, // 1237 ERR_TABLEORNIL
    {240, "Cannot change a protected metatable!"}, // 1238 ERR_PROTMETATABLE
    {241, "Error creating task!"}, // 1240 ERR_ADDTASK
    {242, "Error setting up task!"}, // 1241 ERR_TASKSETUP
    {243, "Specified read range is out of range!"}, // 1242 ERR_READRANGE
    {244, "Wrong backfill configuration!"}, // 1243 ERR_BACKFILL
    {245, "Double buffering mode is not currently active!"}, // 1244 ERR_NODOUBLEBUFFER
    {246, "Specified length exceeds string length!"}, // 1245 ERR_STRTOOSHORT
    {247, "An error occurred while processing the gfx cache!"}, // 1246 ERR_CACHEERROR
    {248, "String expected in table argument \"%s\"!"}, // 1247 ERR_STRTABLEARG
    {249, "Error in applet!"}, // 1248 ERR_APPLET
    {250, "%s is not a directory!"}, // 1250 ERR_NOTADIR
    {251, "Text format tag after square bracket not recognized!"}, // 1251 ERR_UNKTEXTFMT
    {252, "Syntax error in text format specification!"}, // 1252 ERR_TEXTSYNTAX
    {253, "Not enough arguments to this text format tag!"}, // 1253 ERR_TEXTARG
    {254, "Cannot open default font!"}, // 1254 ERR_DEFFONT
    {255, "This font type does not support anti-aliased output!"}, // 1255 ERR_ANTIALIAS
    {256, "Could not create message port!"}, // 1256 ERR_CREATEPORT
    {257, "ARexx is not available!"}, // 1257 ERR_NOREXX
    {258, "ARexx error occurred!"}, // 1258 ERR_REXXERR
    {259, "Callback function was expected to return a string!"}, // 1259 ERR_STRCALLBACK
    {260, "Port is not available!"}, // 1260 ERR_PORTNOTAVAIL
    {261, "Invalid IFF 8SVX file!"}, // 1261 ERR_BAD8SVX
    {262, "Compression format is not supported!"}, // 1262 ERR_CMPUNSUPPORTED
    {263, "Invalid RIFF WAVE file!"}, // 1263 ERR_BADWAVE
    {264, "This music is not in pause state!"}, // 1264 ERR_MUSNOTPAUSED
    {265, "Unknown executable type!"}, // 1266 ERR_EXETYPE
    {266, "Cannot open audio device!"}, // 1267 ERR_OPENAUDIO
    {267, "Error saving with data type!"}, // 1268 ERR_DATATYPESAVE
    {268, "Data type does not support saving!"}, // 1269 ERR_DATATYPESAVE2
    {269, "Error loading animation frame!"}, // 1270 ERR_LOADFRAME
    {270, "This function cannot be used with layers enabled!"}, // 1271 ERR_LAYERSUPPORT2
    {271, "Invalid short If statement!"}, // 1272 ERR_SHORTIF
    {272, "Your system is too old!"}, // 1273 ERR_SYSTOOOLD
    {273, "Key not found!"}, // 1274 ERR_KEYNOTFOUND
    {274, "Port \"%s\" could not be found!"}, // 1275 ERR_FINDPORT
    {275, "Value is too small!"}, // 1276 ERR_TOOSMALL2
    {276, "Error saving PNG image!"}, // 1277 ERR_SAVEPNG
    {277, "This feature requires a newer system version!"}, // 1278 ERR_NOTIGER
    {278, "Cannot load audio stream as a sample!"}, // 1279 ERR_STREAMASSAMPLE
    {279, "Error setting up audio converter!"}, // 1280 ERR_AUDIOCONVERTER
    {280, "In function"}, // QX_MSG_INFUNCTION
    {281, "Error in render callback!"}, // 1281 ERR_RENDERCALLBACK
    {282, "Error setting file attributes!"}, // 1282 ERR_SETFILEATTR
    {283, "Error setting file date!"}, // 1283 ERR_SETFILEDATE
    {284, "Error setting file comment!"}, // 1284 ERR_SETFILECOMMENT
    {285, "Invalid date format specification!"}, // 1285 ERR_INVALIDDATE
    {286, "Error locking %s!"}, // 1286 ERR_LOCK2
    {287, "Error setting up thread!"}, // 1287 ERR_THREAD
    {288, "This feature is currently not supported on this platform!"}, // 1288 ERR_UNSUPPORTEDFEAT
    {289, "No free audio channel available!"}, // 1289 ERR_NOCHANNEL
    {290, "Error creating event!"}, // 1290 ERR_CREATEEVENT
    {291, "Error setting up sound notification!"}, // 1291 ERR_DSOUNDNOTIFY
    {292, "Error setting up sound notification position!"}, // 1292 ERR_DSOUNDNOTIPOS
    {293, "Error playing sound buffer!"}, // 1293 ERR_DSOUNDPLAY
    {294, "Error reading audio file properties!"}, // 1294 ERR_AFILEPROP
    {295, "Error setting up video playback!"}, // 1295 ERR_DIRECTSHOW
    {296, "Error registering window class!"}, // 1296 ERR_REGCLASS
    {297, "Error setting up timer function!"}, // 1297 ERR_TIMER
    {298, "Error allocating semaphore object!"}, // 1298 ERR_SEMAPHORE
    {299, "Zephyrane currently only supports 8 or 16 bit sounds!"}, // 1299 ERR_8OR16BITONLY
    {300, "Display is minimized!"}, // 1300 ERR_DISPMINIMIZED
    {301, "Error creating commodity!"}, // 1301 ERR_COMMODITY
    {302, "Error creating message port!"}, // 1302 ERR_MSGPORT
    {303, "Error converting text to Unicode!"}, // 1303 ERR_TEXTCONVERT
    {304, "Error in text layout engine!"}, // 1304 ERR_ATSUI
    {305, "Syntax error in layer format!"}, // 1305 ERR_LFSYNTAX
    {306, "A zlib IO error occurred!"}, // 1306 ERR_ZLIBIO
    {307, "A zlib stream error occurred!"}, // 1307 ERR_ZLIBSTREAM
    {308, "Invalid zlib version detected!"}, // 1308 ERR_ZLIBVERSION
    {309, "Invalid or incomplete deflate data (zlib)!"}, // 1309 ERR_ZLIBDATA
    {310, "Unknown compression format!"}, // 1310 ERR_PAKFORMAT
    {311, "Specified layer is not a text layer!"}, // 1311 ERR_NOTXTLAYER
    {312, "Autoscale cannot be used together with DisplayDesktop!"}, // 1312 ERR_DDAUTOSCALE
    {313, "Layers cannot be disabled when the layer scaling engine is used!"}, // 1313 ERR_NODISLAYERS
    {314, "Cannot modify object while it is locked!"}, // 1314 ERR_LOCKEDOBJ
    {315, "Error writing JPEG image!"}, // 1315 ERR_WRITEJPEG
    {316, "Cannot use DisplayDesktop while in video recording mode!"}, // 1316 ERR_DDRECVIDEO
    {317, "This command cannot be used while in video recording mode!"}, // 1317 ERR_WRONGCMDRECVIDEO
    {318, "Could not find directory handle %d!"}, // 1318 ERR_FINDDIR
    {319, "Music is not playing!"}, // 1319 ERR_MUSNOTPLYNG2
    {320, "Could not find pointer image %d!"}, // 1320 ERR_FINDPOINTER
    {321, "Error creating pointer from image!"}, // 1321 ERR_POINTERIMG
    {322, "Cannot find Zephyrane function at this offset!"}, // 1322 ERR_READFUNC
    {323, "Invalid Base64 encoding!"}, // 1323 ERR_BADBASE64
    {324, "Specified function is not a user function!"}, // 1324 ERR_NOQXFUNC
    {325, "Sprite is not on screen!"}, // 1325 ERR_SPRITEONSCREEN2
    {326, "Could not find async draw function %d!"}, // 1326 ERR_FINDASYNCDRAW
    {327, "Cannot free the current pointer!"}, // 1327 ERR_FREECURPOINTER
    {328, "Cannot find Zephyrane table at this offset!"}, // 1328 ERR_READTABLE
    {329, "Cannot switch layer mode while async draw is active!"}, // 1329 ERR_LAYERSWITCH
    {330, "Video strategy is not supported!"}, // 1330 ERR_VIDEOSTRATEGY
    {331, "Wrong video strategy specified!"}, // 1331 ERR_WRONGVSTRATEGY
    {332, "Could not find font!"}, // 1332 ERR_FINDFONT
    {333, "Cannot link font!"}, // 1333 ERR_LINKFONT
    {334, "Could not find font %d!"}, // 1334 ERR_FINDFONT2
    {335, "Font specification must not be a file!"}, // 1335 ERR_FONTPATH
    {336, "Font format is not supported!"}, // 1336 ERR_FONTFORMAT
    {337, "You cannot use coordinate constants here!"}, // 1337 ERR_NOCOORDCST
    {338, "This function cannot be used with disk-based animations!"}, // 1338 ERR_ANIMDISK
    {339, "This command cannot be used when SelectAnim() is active!"}, // 1339 ERR_SELECTANIM
    {340, "Attempt to modify the active anim!"}, // 1340 ERR_MODIFYAANIM
    {341, "Could not find anim stream %d!"}, // 1341 ERR_FINDANIMSTREAM
    {342, "This feature requires a newer system version!"}, // 1342 ERR_NEEDMORPHOS2
    {343, "This screen mode does not support alpha channels!"}, // 1343 ERR_SMODEALPHA
    {344, "Could not find display %d!"}, // 1344 ERR_FINDDISPLAY
    {345, "Cannot use the a single BGPic for multiple displays!"}, // 1345 ERR_MULTIBGPIC
    {346, "Cannot free the active display!"}, // 1346 ERR_FREEADISPLAY
    {347, "Cannot use this function while display is closed!"}, // 1347 ERR_CLOSEDDISPLAY
    {348, "Error adding application icon!"}, // 1348 ERR_ADDAPPICON
    {349, "Invalid screen size!"}, // 1349 ERR_SCREENSIZE
    {350, "Displays must have the same color depth!"}, // 1350 ERR_DIFFDEPTH
    {351, "Cannot use multiple displays while in video recording mode!"}, // 1351 ERR_VIDRECMULTI
    {352, "Cannot use transparent displays while in video recording mode!"}, // 1352 ERR_VIDRECTRANS
    {353, "This feature requires a newer system version!"}, // 1353 ERR_NEEDOS41
    {354, "Error creating system image!"}, // 1354 ERR_SYSIMAGE
    {355, "Error creating system button!"}, // 1355 ERR_SYSBUTTON
    {356, "Animation file \"%s\" is in an unknown/unsupported format!"}, // 1356 ERR_OPENANIM2
    {357, "Sound file \"%s\" is in an unknown/unsupported format!"}, // 1357 ERR_OPENSOUND2
    {358, "Image file \"%s\" is in an unknown/unsupported format!"}, // 1358 ERR_LOADPICTURE2
    {359, "Error allocating signal!"}, // 1359 ERR_SIGNAL
    {360, "Error adding application window!"}, // 1360 ERR_ADDAPPWIN
    {361, "Clipboard format is not supported!"}, // 1361 ERR_CLIPFORMAT
    {362, "Invalid order function for sorting!"}, // 1362 ERR_SORTFUNC
    {363, "Syntax error in configuration file!"}, // 1363 ERR_INISYNTAX
    {364, "Failed to open clipboard!"}, // 1364 ERR_CLIPOPEN
    {365, "Error reading from clipboard!"}, // 1365 ERR_CLIPREAD
    {366, "Cannot change size of a BGPic that is selected into a display!"}, // 1366 ERR_SCALEBGPIC
    {367, "You need to select the BGPic's display before modifying the BGPic!"}, // 1367 ERR_SELECTBGPIC
    {368, "Error writing to clipboard!"}, // 1368 ERR_CLIPWRITE
    {369, "Cannot find layer \"%s\" in current BGPic!"}, // 1369 ERR_FINDLAYER
    {370, "Invalid insert position specified!"}, // 1370 ERR_INVINSERT
    {371, "Specified layer already has an async draw object attached!"}, // 1371 ERR_ALREADYASYNC
    {372, "Cannot remove layer while it is used by an async draw object!"}, // 1372 ERR_REMADLAYER
    {373, "Specified name is too long!"}, // 1373 ERR_NAMETOOLONG
    {374, "Group name was already assigned!"}, // 1374 ERR_GROUPNAMEUSED
    {375, "Error reading from registry!"}, // 1375 ERR_REGISTRYREAD
    {376, "Error writing to registry!"}, // 1376 ERR_REGISTRYWRITE
    {377, "Cannot modify the graphics of a BGPic associated with a display!"}, // 1377 ERR_SELECTBGPIC2
    {378, "Attempt to modify the BGPic currently selected as output device!"}, // 1378 ERR_MODIFYABGPIC
    {379, "Asynchronous drawing object is not associated with current display!"}, // 1379 ERR_ADFWRONGDISP
    {380, "Cannot free display before associated async draw objects have been freed!"}, // 1380 ERR_ADFFREEDISP
    {381, "Cannot create sprite link from sprite link!"}, // 1381 ERR_SPRITELINK
    {382, "Specified sprites must have the same dimensions!"}, // 1382 ERR_WRONGSPRITESIZE
    {383, "Cannot trim brush because it is fully transparent!"}, // 1383 ERR_TRANSBRUSH
    {384, "Error initializing input devices!"}, // 1384 ERR_DINPUT
    {385, "Error accessing joystick!"}, // 1385 ERR_JOYSTICK
    {386, "Error initializing freetype2!"}, // 1386 ERR_FT2
    {387, "Specified image does not match required icon dimensions (%s)!"}, // 1387 ERR_ICONDIMS
    {388, "This operation is not supported by the specified brush type!"}, // 1388 ERR_BRUSHTYPE
    {389, "Cannot insert a transformed vector brush as a layer!\nUse draw tags instead of transforming the brush directly!"}, // 1389 ERR_TFVBRUSH
    {390, "This operation is not supported by the specified BGPic type!"}, // 1390 ERR_BGPICTYPE
    {391, "Cannot convert a transformed vector brush into a BGPic!"}, // 1391 ERR_TFVBRUSHBGPIC
    {392, "Cannot convert a transformed vector BGPic into a brush!"}, // 1392 ERR_TFVBGPICBRUSH
    {393, "Could not find path %d!"}, // 1393 ERR_FINDPATH
    {394, "Cannot draw empty path!"}, // 1394 ERR_EMPTYPATH
    {395, "You must use the inbuilt font engine for vector text!"}, // 1395 ERR_VFONTTYPE
    {396, "Error setting up vector font!"}, // 1396 ERR_VFONT
    {397, "Error creating shortcut!"}, // 1397 ERR_CREATESHORTCUT
    {398, "Access denied!"}, // 1398 ERR_NOACCESS
    {399, "This feature is not available on this platform!"}, // 1399 ERR_BADPLATFORM
    {400, "This plugin requires at least Zephyrane %s!"}, // 1400 ERR_NEWQXPLUGIN
    {401, "Plugin version is not supported!"}, // 1401 ERR_PLUGINVER
    {402, "Error"}, // QX_MSG_ERROR
    {403, "Plugin is incompatible with current platform! (%s)"}, // 1402 ERR_PLUGINARCH
    {404, "Error processing image \"%s\"!"}, // 1403 ERR_IMAGEERROR
    {405, "Cannot render layer because it is attached to async draw object!"}, // 1404 ERR_RENDERADLAYER
    {406, "No joystick found at specified game port!"}, // 1405 ERR_NOJOYATPORT
    {407, "Could not find connection %d!"}, // 1409 ERR_FINDCLIENT
    {408, "The following network error occurred:\n%s"}, // 1410 ERR_SOCKET
    {409, "Could not initialize base socket interface!"}, // 1411 ERR_OPENSOCKET
    {410, "Could not find server %d!"}, // 1412 ERR_FINDSERVER
    {411, "Error setting socket option!"}, // 1413 ERR_SOCKOPT
    {412, "Error obtaining peer name!"}, // 1414 ERR_PEERNAME
    {413, "Error obtaining host name!"}, // 1415 ERR_HOSTNAME
    {414, "Unknown protocol in URL!"}, // 1416 ERR_UNKPROTOCOL
    {415, "Invalid URL specified!"}, // 1417 ERR_BADURL
    {416, "HTTP error %d occurred!"}, // 1418 ERR_HTTPERROR
    {417, "Unsupported HTTP transfer mode!"}, // 1419 ERR_HTTPTE
    {418, "An error occurred during data send!"}, // 1420 ERR_SENDDATA
    {419, "FTP error %d occurred!"}, // 1421 ERR_FTPERROR
    {420, "Receive timeout reached!"}, // 1422 ERR_RECVTIMEOUT
    {421, "Remote server has closed the connection!"}, // 1423 ERR_RECVCLOSED
    {422, "Unknown error during data receive!"}, // 1424 ERR_RECVUNKNOWN
    {423, "File %s not found on this server!"}, // 1425 ERR_FILENOTFOUND
    {424, "Access denied for specified user/password!"}, // 1426 ERR_FTPAUTH
    {425, "No permission to upload file to %s!"}, // 1427 ERR_UPLOADFORBIDDEN
    {426, "Error obtaining socket name!"}, // 1428 ERR_SOCKNAME
    {427, "Could not find UDP object %d!"}, // 1429 ERR_FINDUDPOBJECT
    {428, "Invalid IP address specified!"}, // 1430 ERR_BADIP
    {429, "Error opening connection to X server!"}, // 1431 ERR_XDISPLAY
    {430, "Error creating graphics context!"}, // 1432 ERR_CREATEGC
    {431, "Error creating pipe!"}, // 1433 ERR_PIPE
    {432, "GTK is not available!"}, // 1434 ERR_GTK
    {433, "Compositing must be enabled for displays with alpha transparency!"}, // 1435 ERR_NEEDCOMPOSITE
    {434, "Error obtaining a visual info that can handle ARGB graphics!"}, // 1436 ERR_NOARGBVISUAL
    {435, "The Xfixes extension is required for this feature!"}, // 1437 ERR_XFIXES
    {436, "The Xcursor extension is required for this feature!"}, // 1438 ERR_XCURSOR
    {437, "Error configuring ALSA PCM output stream! (#%d)"}, // 1439 ERR_ALSAPCM
    {438, "Error setting environment variable!"}, // 1440 ERR_SETENV
    {439, "Error removing environment variable!"}, // 1441 ERR_UNSETENV
    {440, "Screen mode switching requires the XFree86-VidModeExtension!"}, // 1442 ERR_XF86VIDMODEEXT
    {441, "No display modes found!"}, // 1443 ERR_NODISPMODES
    {442, "Filter \"%s\" not recognized!"}, // 1444 ERR_UNKNOWNFILTER
    {443, "Missing filter name in table field %s!"}, // 1445 ERR_NOFILTERNAME
    {444, "Subtable expected in table \"%s\"!"}, // 1446 ERR_TABEXPECTED2
    {445, "Specified sample value is out of range!"}, // 1447 ERR_SMPRANGE
    {446, "Table does not contain enough pixels for specified size!"}, // 1448 ERR_NOTENOUGHPIXELS
    {447, "Could not find video %d!"}, // 1449 ERR_FINDVIDEO
    {448, "File \"%s\" not recognized as a video stream!"}, // 1450 ERR_LOADVIDEO
    {449, "Cannot pause video because it is not playing!"}, // 1451 ERR_VIDNOTPLAYING
    {450, "Cannot resume video because it is not paused!"}, // 1452 ERR_VIDNOTPAUSED
    {451, "Color space is not supported!"}, // 1453 ERR_COLORSPACE
    {452, "Error in video decoder!"}, // 1454 ERR_QUICKTIME
    {453, "This functionality is not available while videos are attached to the display!"}, // 1455 ERR_VIDATTACHED
    {454, "Cannot grab frame while video is playing or paused!"}, // 1456 ERR_FGRABVIDSTATE
    {455, "Specified video frame is out of range!"}, // 1457 ERR_VIDEOFRAME
    {456, "Videos cannot be played on top of transparent BGPics!"}, // 1458 ERR_VIDEOTRANS
    {457, "Error loading plugin \"%s\"!"}, // 1459 ERR_LOADPLUGIN
    {458, "Vector graphics plugin required!"}, // 1460 ERR_VECGFXPLUGIN
    {459, "Invalid capture index!"}, // 1461 ERR_INVCAPIDX
    {460, "Invalid pattern capture!"}, // 1462 ERR_INVPATCAP
    {461, "Malformed pattern! (ends with \"%%\")"}, // 1463 ERR_MALFORMPAT1
    {462, "Malformed pattern! (missing \"]\")"}, // 1464 ERR_MALFORMPAT2
    {463, "Unbalanced pattern!"}, // 1465 ERR_UNBALANCEDPAT
    {464, "Too many captures!"}, // 1466 ERR_TOOMANYCAPTURES
    {465, "Missing \"[\" after \"%%f\" in pattern!"}, // 1467 ERR_MISSINGOPBRACK
    {466, "Unfinished capture!"}, // 1468 ERR_UNFINISHEDCAPTURE
    {467, "Error transforming image!"}, // 1469 ERR_TFIMAGE
    {468, "Error drawing path!"}, // 1470 ERR_DRAWPATH
    {469, "This functionality is not available on mobile devices!"}, // 1471 ERR_MOBILE
    {470, "DisplayDesktop is not available on mobile devices!"}, // 1472 ERR_DDMOBILE
    {471, "Multiple displays are not available on mobile devices!"}, // 1473 ERR_MULDISMOBILE
    {472, "Transparent BGPics are not available on mobile devices!"}, // 1474 ERR_TRANSBGMOBILE
    {473, "Cannot modify a sample that is currently playing!"}, // 1475 ERR_MODIFYPSMP
    {474, "Table expected from callback function!"}, // 1476 ERR_TABCALLBACK
    {475, "Callback function returned an invalid value!"}, // 1477 ERR_BADCALLBACKRET
    {476, "This command must not be called from a callback function!"}, // 1478 ERR_NOCALLBACK
    {477, "Specified pitch value is too low!"}, // 1479 ERR_LOWFREQ
    {478, "Could not find layer data!"}, // 1480 ERR_FINDLAYERDATA
    {479, "Filter patterns can only be used on directories!"}, // 1481 ERR_NODIRPATTERN
    {480, "Source file format does not support seeking!"}, // 1482 ERR_SEEKFORMAT
    {481, "Plugin type not recognized! (%s)"}, // 1483 ERR_PLUGINTYPE
    {482, "This command must only be called while in a music callback!"}, // 1484 ERR_NOMUSICCB
    {483, "Please install a FillMusicBuffer event handler first!"}, // 1485 ERR_NOFMBHANDLER
    {484, "Unknown image format specified!"}, // 1486 ERR_UNKNOWNIMGOUT
    {485, "Error saving image!"}, // 1487 ERR_SAVEIMAGE
    {486, "Unknown anim format specified!"}, // 1488 ERR_UNKNOWNANMOUT
    {487, "Error saving anim!"}, // 1489 ERR_SAVEANIM
    {488, "Unknown sample format specified!"}, // 1490 ERR_UNKNOWNSMPOUT
    {489, "Error saving sample!"}, // 1491 ERR_SAVESAMPLE
    {490, "Userdata expected in argument %d!"}, // 1492 ERR_UDEXPECTED
    {491, "Assertion failed!"}, // 1493 ERR_ASSERTFAILED
    {492, "This program requires %s!"}, // 1494 ERR_REQUIREPLUGIN
    {493, "Absolute path expected!"}, // 1495 ERR_NOABSPATH
    {494, "Data item \"%s\" not found in specified object!"}, // 1496 ERR_FINDOBJECTDATA
    {495, "Hardware brushes cannot be used here!"}, // 1497 ERR_HWBRUSH
    {496, "This functionality is currently not supported for hardware brushes!"}, // 1498 ERR_HWBRUSHFUNC
    {497, "Format saver does not support alpha channel !"}, // 1499 ERR_SAVERALPHA
    {498, "Video is paused. Use ResumeVideo() to resume playback!"}, // 1500 ERR_VIDPAUSED
    {499, "Video is already playing!"}, // 1501 ERR_VIDPLAYING
    {500, "Invalid percent format in string!"}, // 1502 ERR_PERCENTFORMATSTR
    {501, "Unsupported screen pixel format!"}, // 1503 ERR_SCRPIXFMT
    {502, "Cannot free display before attached satellites have been detached!"}, // 1504 ERR_SATFREEDISP
    {503, "Error creating icon!"}, // 1505 ERR_CREATEICON
    {504, "Error reading shortcut!"}, // 1506 ERR_GETSHORTCUT
    {505, "Unknown MIME type!"}, // 1507 ERR_UNKNOWNMIMETYPE
    {506, "No viewer for this MIME type!"}, // 1508 ERR_NOMIMEVIEWER
    {507, "Java error occurred!"}, // 1509 ERR_JAVA
    {508, "Could not find activity!"}, // 1510 ERR_FINDACTIVITY
    {509, "Cannot call this command while in BeginRefresh() mode!"}, // 1511 ERR_BEGINREFRESH
    {510, "Video object is already in use as a layer on a BGPic!"}, // 1512 ERR_DBVIDEOLAYER
    {511, "This functionality is not supported for video layers!"}, // 1513 ERR_VIDEOLAYER
    {512, "Video layers are only supported by Zephyrane's platform independent video renderer!"}, // 1514 ERR_VIDEOLAYERDRV
    {513, "Specified layer type does not support this functionality!"}, // 1515 ERR_BADLAYERTYPE
    {514, "Video is already stopped!"}, // 1516 ERR_VIDSTOPPED
    {515, "Use functions from layers library to change attributes of video layers!"}, // 1517 ERR_VIDLAYERFUNC
    {516, "Cannot set adapter!"}, // 1518 ERR_SETADAPTER
    {517, "This functionality is not available with this display adapter!"}, // 1519 ERR_DISPLAYADAPTERSUPPORT
    {518, "Cannot load plugin: %s"}, // 1520 ERR_DLOPEN
    {519, "Error loading plugin symbol: %s"}, // 1521 ERR_PLUGINSYMBOL
    {520, "Error allocating bitmap!"}, // 1522 ERR_BITMAP
    {521, "Error attaching satellite!"}, // 1523 ERR_SATELLITE
    {522, "Error reading pixels from hardware bitmap!"}, // 1524 ERR_READVIDEOPIXELS
    {523, "Cannot free display while hardware double buffering is active!"}, // 1525 ERR_HWDBFREEDISP
    {524, "Cannot allocate hardware bitmap while display has not been realized!"}, // 1526 ERR_HWBMCLOSEDISP
    {525, "Hardware brush is incompatible with the current display!"}, // 1527 ERR_INCOMPATBRUSH
    {526, "Error adding system event!"}, // 1528 ERR_ADDSYSEVENT
    {527, "Could not seek file!"}, // 1529 ERR_SEEKFILE
    {528, "Error closing file handle!"}, // 1530 ERR_CLOSEFILE
    {529, "Cannot find plugin %s!"}, // 1531 ERR_FINDPLUGIN
    {530, "Plugin %s has already been loaded!"}, // 1532 ERR_PLUGINDOUBLET
    {531, "Error in application!"}, // 1533 ERR_APPLICATION
    {532, "Application name required!"}, // 1534 ERR_NEEDAPPLICATION
    {533, "Could not find application!"}, // 1535 ERR_FINDAPPLICATION
    {534, "Error sending message!"}, // 1536 ERR_SENDMESSAGE
    {535, "Could not find menu %d!"}, // 1537 ERR_FINDMENU
    {536, "Menu tree definition is too complex!"}, // 1538 ERR_MENUCOMPLEXITY
    {537, "Error creating menu!"}, // 1539 ERR_CREATEMENU
    {538, "Error obtaining visual info!"}, // 1540 ERR_VISUALINFO
    {539, "Error setting menu!"}, // 1541 ERR_SETMENU
    {540, "Cannot free menu while it is still attached to a display!"}, // 1542 ERR_MENUATTACHED
    {541, "Cannot find menu item %s!"}, // 1543 ERR_FINDMENUITEM
    {542, "Specified display does not have a menu attached!"}, // 1544 ERR_NOMENU
    {543, "Empty menu trees are not allowed!"}, // 1545 ERR_EMPTYMENUTREE
    {544, "Tag expected!"}, // 1546 ERR_TAGEXPECTED
    {545, "This functionality is not supported in full screen mode!"}, // 1547 ERR_FULLSCREEN
    {546, "Error creating docky!"}, // 1548 ERR_CREATEDOCKY
    {547, "Error updating icon!"}, // 1549 ERR_UPDATEICON
    {548, "Menu is already in use!"}, // 1550 ERR_DOUBLEMENU
    {549, "Error showing context menu!"}, // 1551 ERR_CONTEXTMENU
    {550, "This functionality is not available for vector brushes!"}, // 1552 ERR_VECTORBRUSH
    {551, "Application does not expose a context menu!"}, // 1553 ERR_NOCONTEXTMENU
    {552, "Invalid accelerator specified!"}, // 1554 ERR_ACCELERATOR
    {553, "Specified monitor could not be found!"}, // 1555 ERR_FINDMONITOR
    {554, "Monitor %d is already in fullscreen mode!"}, // 1556 ERR_MONITORFULLSCREEN
    {555, "Specified monitor is out of range!"}, // 1557 ERR_MONITORRANGE
    {556, "Error obtaining monitor information!"}, // 1558 ERR_GETMONITORINFO
    {557, "Screen mode is not available!"}, // 1559 ERR_SCREENMODE
    {558, "Compression is not supported!"}, // 1560 ERR_NOCOMPRESS
    {559, "Error grabbing screen pixels!"}, // 1561 ERR_GRABSCREEN
    {560, "Error allocating audio channel!"}, // 1562 ERR_ALLOCCHANNEL
    {561, "Syntax error in tag format!"}, // 1563 ERR_REQUIRETAGFMT
    {562, "Error allocating alpha channel!"}, // 1564 ERR_ALLOCALPHA
    {563, "Error allocating mask!"}, // 1565 ERR_ALLOCMASK
    {564, "This functionality is only available to applets compiled by Zephyrane %s or higher!"}, // 1566 ERR_OLDAPPLET
    {565, "Music is paused. Use ResumeMusic() to resume playback!"}, // 1567 ERR_MUSPAUSED
    {566, "Music is already playing!"}, // 1568 ERR_MUSPLAYING
    {567, "Invalid parameter for console argument!"}, // 1569 ERR_CONSOLEARG
    {568, "Error determining file size!"}, // 1570 ERR_FILESIZE
    {569, "Error examining file system object!"}, // 1571 ERR_STAT
    {570, "This server requires user authentification!"}, // 1572 ERR_REQAUTH
    {571, "Table field \"%s\" must be specified!"}, // 1573 ERR_MISSINGFIELD
    {572, "Image \"%s\" does not have a transparent pen!"}, // 1574 ERR_NOTRANSPARENCY
    {573, "Legacy Protracker modules are not supported!"}, // 1575 ERR_LEGACYPTMOD
    {574, "Specified channel is out of range!"}, // 1576 ERR_CHANNELRANGE
    {575, "File format error!"}, // 1577 ERR_FILEFORMAT
    {576, "Error linking plugin!"}, // 1578 ERR_LINKPLUGIN
    {577, "Failed to execute program!"}, // 1579 ERR_EXECUTE
    {578, "AmigaGuide is not available!"}, // 1580 ERR_AMIGAGUIDE
    {579, "Pattern too complex!"}, // 1581 ERR_COMPLEXPATTERN
    {580, "Invalid use of escape character in replacement string!"}, // 1582 ERR_ESCREPLACE
    {581, "Invalid replacement value!"}, // 1583 ERR_INVREPLACE
    {582, "Encoding not recognized!"}, // 1584 ERR_BADENCODING
    {583, "Invalid UTF-8 sequence encountered!"}, // 1585 ERR_INVALIDUTF8
    {584, "Strings have different encodings!"}, // 1586 ERR_DIFFENCODING
    {585, "Double encoding specified!"}, // 1587 ERR_DBLENCODING
    {586, "Invalid UTF-8 string in argument %d!"}, // 1588 ERR_INVALIDUTF8ARG
    {587, "Error in text rendering engine!"}, // 1589 ERR_CORETEXT
    {588, "Error in system framework!"}, // 1590 ERR_COREFOUNDATION
    {589, "Error in frame grabber!"}, // 1591 ERR_FRAMEGRABBER
    {590, "Could not find selector!"}, // 1592 ERR_FINDSELECTOR
    {591, "This preprocessor command must come first!"}, // 1593 ERR_FIRSTPREPROC
    {592, "ElseIf after Else!"}, // 1594 ERR_ELSEIFAFTERELSE
    {593, "Else used twice!"}, // 1595 ERR_ELSETWICE
    {594, "No block to break from!"}, // 1596 ERR_NOBLOCKBREAK
    {595, "No case to fall through to!"}, // 1597 ERR_NOFALLTHROUGH
    {596, "Table expected!"}, // 1598 ERR_TABEXPECTED3
    {597, "Table needs to have at least one item!"}, // 1599 ERR_EMPTYTABLE
    {598, "Error moving file!"}, // 1600 ERR_MOVEFILE
    {599, "Radio and toggle menu flags cannot be combined!"}, // 1601 ERR_RADIOTOGGLEMENU
    {600, "Error generating random number!"}, // 1602 ERR_RANDOMIZE
    {601, "Error initializing video!"}, // 1607 ERR_VIDEOINIT
    {602, "Could not find icon %d!"}, // 1608 ERR_FINDICON
    {603, "Selected image parameters don't match normal image parameters!"}, // 1609 ERR_ICONPARMS
    {604, "Icon size used twice!"}, // 1610 ERR_ICONSIZE
    {605, "Icon file \"%s\" is in an unknown/unsupported format!"}, // 1611 ERR_LOADICON
    {606, "There can be only one standard icon size!"}, // 1612 ERR_ICONSTANDARD
    {607, "Specified icon entry is out of range!"}, // 1613 ERR_ICONENTRY
    {608, "Vector brushes must be the only icon entry!"}, // 1614 ERR_ICONVECTOR
    {609, "Multiple displays are not supported!"}, // 1615 ERR_MULTIDISPLAYS
    {610, "Error creating texture!"}, // 1616 ERR_TEXTURE
    {611, "Error creating surface!"}, // 1617 ERR_SURFACE
    {612, "Error creating renderer!"}, // 1618 ERR_RENDERER
    {613, "Could not find serial connection %d!"}, // 1619 ERR_FINDSERIAL
    {614, "Error initializing serial interface!"}, // 1620 ERR_INITSERIAL
    {615, "Error opening serial port %s!"}, // 1621 ERR_OPENSERIAL
    {616, "Serial I/O error!"}, // 1622 ERR_SERIALIO
    {617, "Send timeout reached!"}, // 1623 ERR_SENDTIMEOUT
    {618, "Unknown error during data send!"}, // 1624 ERR_SENDUNKNOWN
    {619, "Plugin doesn't support this feature!"}, // 1625 ERR_PLUGINSUPPORT
    {620, "Error rewinding directory!"}, // 1626 ERR_REWINDDIR
    {621, "Error monitoring directory!"}, // 1627 ERR_MONITORDIR
    {622, "Java method not found!"}, // 1628 ERR_JAVAMETHOD
    {623, "Number expected!"}, // 1629 ERR_NUMBEREXPECTED
    {624, ""}, // reserved
    {625, ""}, // reserved
    {626, ""}, // reserved
    {627, ""}, // reserved
    {628, ""}, // reserved
    {629, ""}, // reserved
    {630, ""}, // reserved
    {631, ""}, // reserved
    {632, ""}, // reserved
    {633, ""}, // reserved
    {634, ""}, // reserved
    {635, ""}, // reserved
    {636, ""}, // reserved
    {637, ""}, // reserved
    {638, ""}, // reserved
    {639, ""}, // reserved
    {640, "Opening script %s"}, // QX_MSG_OPENINGSCRIPT
    {641, "Loading applet %s"}, // QX_MSG_LOADINGAPPLET
    {642, "Loading plugin %s"}, // QX_MSG_LOADINGPLUGIN
    {643, "Loading brush %s"}, // QX_MSG_LOADINGBRUSH
    {644, "Opening file %s"}, // QX_MSG_OPENINGFILE
    {645, "Opening font %s"}, // QX_MSG_OPENINGFONT
    {646, "Loading video %s"}, // QX_MSG_LOADINGVIDEO
    {647, "done"}, // QX_MSG_DONE
    {648, "failed"}, // QX_MSG_FAILED
    {649, "skipped"}, // QX_MSG_SKIPPED
    {650, "(Reason: %s)\n"}, // QX_MSG_REASON
    {651, "Preparing display"}, // QX_MSG_PREPARINGDISPLAY
    {652, "And Action!"}, // QX_MSG_ANDACTION
    {653, "OK"}, // QX_MSG_OK
    {654, "Cancel"}, // QX_MSG_CANCEL
    {655, "Yes"}, // QX_MSG_YES
    {656, "No"}, // QX_MSG_NO
    {657, "OK|Cancel"}, // QX_MSG_OKCANCEL
    {658, "All"}, // QX_MSG_ALL
    {659, "Filter"}, // QX_MSG_FILTER
    {660, "Please select desired display mode!"}, // QX_MSG_SELECTDISPLAYMODE
    {661, "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel"}, // QX_MSG_DISPLAYMODEBUTTONS
    {662, "Your choice: "}, // QX_MSG_CONSOLECHOICE
    {663, "Invalid choice. Valid choices between 1 and %d, try again.\n"}, // QX_MSG_CONSOLEINVALIDCHOICE
    {664, "%s is not a directory, try again.\n"}, // QX_MSG_CONSOLENOTADIR
    {665, "%s is a directory, try again.\n"}, // QX_MSG_CONSOLEISADIR
    {666, "%s does already exist. Overwrite? (y/n) "}, // QX_MSG_CONSOLEOVERWRITE
    {667, "%s does not exist, try again.\n"}, // QX_MSG_CONSOLENOTEXIST
    {668, "String too long, %d characters max. Try again.\n"}, // QX_MSG_CONSOLETOOLONG
    {669, "Only numbers accepted, try again."}, // QX_MSG_CONSOLEONLYNUMBERS
    {670, "Enter font name: "}, // QX_MSG_CONSOLEFONTNAME
    {671, "Enter font size: "}, // QX_MSG_CONSOLEFONTSIZE
    {672, "Error. Invalid size specified."}, // QX_MSG_CONSOLEBADSIZE
    {673, "Enter RGB color in a hexadecimal notation: "}, // QX_MSG_CONSOLECOLOR
    {674, "Error. Color must be prefixed with a '#' character."}, // QX_MSG_CONSOLECOLORPREFIX
    {675, "Error. Color must use be 6 characters (two per red, green, blue)."}, // QX_MSG_CONSOLECOLORLENGTH
    {676, ""}, // reserved
    {677, ""}, // reserved
    {678, ""}, // reserved
    {679, ""}, // reserved
    {680, ""}, // reserved
    {681, ""}, // reserved
    {682, ""}, // reserved
    {683, ""}, // reserved
    {684, ""}, // reserved
    {685, ""}, // reserved
    {686, ""}, // reserved
    {687, ""}, // reserved
    {688, ""}, // reserved
    {689, ""}, // reserved
    {690, ""}, // reserved
    {691, ""}, // reserved
    {692, ""}, // reserved
    {693, ""}, // reserved
    {694, ""}, // reserved
    {695, ""}, // reserved
    {696, ""}, // reserved
    {697, ""}, // reserved
    {698, ""}, // reserved
    {699, ""}, // reserved
    {700, "Arguments controlling the window style:"}, // QX_MSG_OPTSECTION_WINDOW
    {701, "Arguments controlling full screen mode:"}, // QX_MSG_OPTSECTION_FULLSCREEN
    {702, "Arguments controlling backfill style:"}, // QX_MSG_OPTSECTION_BACKFILL
    {703, "Arguments controlling the scaling engine:"}, // QX_MSG_OPTSECTION_SCALING
    {704, "Arguments controlling the audio driver:"}, // QX_MSG_OPTSECTION_AUDIO
    {705, "Arguments controlling plugins:"}, // QX_MSG_OPTSECTION_PLUGINS
    {706, "Arguments controlling debugger settings:"}, // QX_MSG_OPTSECTION_DEBUG
    {707, "Miscellaneous arguments:"}, // QX_MSG_OPTSECTION_MISC
    {708, "open script in a window (default)"}, // QX_MSG_OPTHELP_WINDOW
    {709, "make window borderless"}, // QX_MSG_OPTHELP_BORDERLESS
    {710, "allow window resizing"}, // QX_MSG_OPTHELP_SIZEABLE
    {711, "forbid window dragging"}, // QX_MSG_OPTHELP_FIXED
    {712, "forbid window minimizing"}, // QX_MSG_OPTHELP_NOHIDE
    {713, "disable screen blanker while Zephyrane is running"}, // QX_MSG_OPTHELP_DISABLEBLANKER
    {714, "apply command line options to all displays"}, // QX_MSG_OPTHELP_ALLDISPLAYS
    {715, "override restoration of previous display placements"}, // QX_MSG_OPTHELP_OVERRIDEPLACEMENT
    {716, "open display in maximized state"}, // QX_MSG_OPTHELP_MAXIMIZED
    {717, "set initial display width"}, // QX_MSG_OPTHELP_WINWIDTH
    {718, "set initial display height"}, // QX_MSG_OPTHELP_WINHEIGHT
    {719, "use native screen units instead of pixels"}, // QX_MSG_OPTHELP_NATIVEUNITS
    {720, "do not use live resizing for display"}, // QX_MSG_OPTHELP_NOLIVERESIZE
    {721, "open display on top of all other windows"}, // QX_MSG_OPTHELP_ALWAYSONTOP
    {722, "open script in best available full screen mode"}, // QX_MSG_OPTHELP_FULLSCREEN
    {723, "scale script to current monitor's full resolution"}, // QX_MSG_OPTHELP_FULLSCREENSCALE
    {724, "open script in fake full screen mode"}, // QX_MSG_OPTHELP_FAKEFULLSCREEN
    {725, "prompt the user for full screen resolution"}, // QX_MSG_OPTHELP_MODEREQUESTER
    {726, "allow the user to select between full screen and window mode"}, // QX_MSG_OPTHELP_ASKDISPLAYMODE
    {727, "set width for custom full screen mode"}, // QX_MSG_OPTHELP_SCRWIDTH
    {728, "set height for custom full screen mode"}, // QX_MSG_OPTHELP_SCRHEIGHT
    {729, "set depth for custom full screen mode"}, // QX_MSG_OPTHELP_SCRDEPTH
    {730, "set monitor to use for display"}, // QX_MSG_OPTHELP_MONITOR
    {731, "automatically hide pointer when in full screen mode"}, // QX_MSG_OPTHELP_HIDEPOINTER
    {732, "forbid hotkey switching between windowed and full screen modes"}, // QX_MSG_OPTHELP_NOMODESWITCH
    {733, "enable backfill decoration"}, // QX_MSG_OPTHELP_BACKFILL
    {734, "set start color to use for backfilling"}, // QX_MSG_OPTHELP_STARTCOLOR
    {735, "set end color to use for backfilling"}, // QX_MSG_OPTHELP_ENDCOLOR
    {736, "set image to be used for backfilling"}, // QX_MSG_OPTHELP_BRUSHFILE
    {737, "alternative way of specifying backfill image"}, // QX_MSG_OPTHELP_BRUSH
    {738, "scale backfill image to fit display size"}, // QX_MSG_OPTHELP_SCALEPICTURE
    {739, "set x-position of backfill image (defaults to center)"}, // QX_MSG_OPTHELP_PICXPOS
    {740, "set y-position of backfill image (defaults to center)"}, // QX_MSG_OPTHELP_PICYPOS
    {741, "set transparent color for backfill image (defaults to no transparency)"}, // QX_MSG_OPTHELP_PICTRANS
    {742, "position backfill above desktop title bar"}, // QX_MSG_OPTHELP_HIDETITLEBAR
    {743, "enable auto scaling engine"}, // QX_MSG_OPTHELP_AUTOSCALE
    {744, "enable layer scaling engine"}, // QX_MSG_OPTHELP_LAYERSCALE
    {745, "automatically apply scaling on high dpi display"}, // QX_MSG_OPTHELP_SYSTEMSCALE
    {746, "use constant scale factor"}, // QX_MSG_OPTHELP_SCALEFACTOR
    {747, "set scaling engine output width"}, // QX_MSG_OPTHELP_SCALEWIDTH
    {748, "set scaling engine output height"}, // QX_MSG_OPTHELP_SCALEHEIGHT
    {749, "enable antialiased interpolation (slower)"}, // QX_MSG_OPTHELP_SMOOTHSCALE
    {750, "do not allow distorted scaling"}, // QX_MSG_OPTHELP_KEEPPROPORTIONS
    {751, "choose scaling resolution automatically from current desktop size"}, // QX_MSG_OPTHELP_FITSCALE
    {752, "do not use any scale engine for full screen scale"}, // QX_MSG_OPTHELP_NOSCALEENGINE
    {753, "disable sound output"}, // QX_MSG_OPTHELP_NOSOUND
    {754, "fail if sound hardware isn't available"}, // QX_MSG_OPTHELP_FORCESOUND
    {755, "set number of available audio channels"}, // QX_MSG_OPTHELP_NUMCHANNELS
    {756, "set ALSA audio device that Zephyrane shall use"}, // QX_MSG_OPTHELP_AUDIODEVICE
    {757, "initialize the specified plugins"}, // QX_MSG_OPTHELP_REQUIREPLUGINS
    {758, "specify tags to pass to plugin require functions"}, // QX_MSG_OPTHELP_REQUIRETAGS
    {759, "skip loading specified plugins"}, // QX_MSG_OPTHELP_SKIPPLUGINS
    {760, "set device for debug output"}, // QX_MSG_OPTHELP_DEBUGDEVICE
    {761, "enable debug output"}, // QX_MSG_OPTHELP_DEBUGOUTPUT
    {762, "force buffer flushing after every write to stdout"}, // QX_MSG_OPTHELP_FORCEFLUSH
    {763, "do not call any debug functions"}, // QX_MSG_OPTHELP_NODEBUG
    {764, "show this help information"}, // QX_MSG_OPTHELP_HELP
    {765, "suppress Zephyrane's startup output"}, // QX_MSG_OPTHELP_QUIET
    {766, "specify script's encoding (default: utf8)"}, // QX_MSG_OPTHELP_ENCODING
    {767, "store temporary files in this directory"}, // QX_MSG_OPTHELP_TEMPDIR
    {768, "do not change directory to script's directory"}, // QX_MSG_OPTHELP_NOCHDIR
    {769, "list of constants to define"}, // QX_MSG_OPTHELP_SETCONSTANTS
    {770, "set X server to connect to"}, // QX_MSG_OPTHELP_XSERVER
    {771, "do not install a mouse hook (for slow X servers)"}, // QX_MSG_OPTHELP_NOMOUSEHOOK
    {772, "use low resolution software timer"}, // QX_MSG_OPTHELP_SOFTTIMER
    {773, ""}, // reserved
    {774, ""}, // reserved
    {775, ""}, // reserved
    {776, ""}, // reserved
    {777, ""}, // reserved
    {778, ""}, // reserved
    {779, ""}, // reserved
    {780, ""}, // reserved
    {781, "Select Zephyrane applet to run"}, // QX_MSG_SELECTAPPLET
    {782, ""}, // reserved
    {783, ""}, // reserved
    {784, ""}, // reserved
    {785, ""}, // reserved
    {786, ""}, // reserved
    {787, ""}, // reserved
    {788, ""}, // reserved
    {789, ""}, // reserved
    {790, ""}, // reserved
    {791, ""}, // reserved
    {792, ""}, // reserved
    {793, ""}, // reserved
    {794, ""}, // reserved
    {795, ""}, // reserved
    {796, ""}, // reserved
    {797, ""}, // reserved
    {798, ""}, // reserved
    {799, ""}, // reserved
    {800, ""}, // reserved
    {801, ""}, // reserved
    {802, ""}, // reserved
    {803, ""}, // reserved
    {804, ""}, // reserved
    {805, ""}, // reserved
    {806, ""}, // reserved
    {807, ""}, // reserved
    {808, ""}, // reserved
    {809, ""}, // reserved
    {810, ""}, // reserved
    {811, ""}, // reserved
    {812, ""}, // reserved
    {813, ""}, // reserved
    {814, ""}, // reserved
    {815, ""}, // reserved
    {816, ""}, // reserved
    {817, ""}, // reserved
    {818, ""}, // reserved
    {819, ""}, // reserved
    {820, ""}, // reserved
    {821, ""}, // reserved
    {822, ""}, // reserved
    {823, ""}, // reserved
    {824, ""}, // reserved
    {825, ""}, // reserved
    {826, ""}, // reserved
    {827, ""}, // reserved
    {828, ""}, // reserved
    {829, ""}, // reserved
    {830, ""}, // reserved
    {831, ""}, // reserved
    {832, ""}, // reserved
    {833, ""}, // reserved
    {834, ""}, // reserved
    {835, ""}, // reserved
    {836, ""}, // reserved
    {837, ""}, // reserved
    {838, ""}, // reserved
    {839, ""}, // reserved
    {840, ""}, // reserved
    {841, ""}, // reserved
    {842, ""}, // reserved
    {843, ""}, // reserved
    {844, ""}, // reserved
    {845, ""}, // reserved
    {846, ""}, // reserved
    {847, ""}, // reserved
    {848, ""}, // reserved
    {849, ""}, // reserved
    {850, ""}, // reserved
    {851, ""}, // reserved
    {852, ""}, // reserved
    {853, ""}, // reserved
    {854, ""}, // reserved
    {855, ""}, // reserved
    {856, ""}, // reserved
    {857, ""}, // reserved
    {858, ""}, // reserved
    {859, ""}, // reserved
    {860, ""}, // reserved
    {861, ""}, // reserved
    {862, ""}, // reserved
    {863, ""}, // reserved
    {864, ""}, // reserved
    {865, ""}, // reserved
};

// Entry 0 is code 0, entry k is code 999 + k; -1: the text is the error
// string itself; unassigned codes show "Unknown error code!".
extern "C" const int32_t qxErrorCodeMap[QX_ERRORMAP_COUNT] = {
    0,
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, // 1000
    11, 12, 13, 14, 15, 16, 17, 18, 19, 20, // 1010
    21, 22, 23, 24, 25, 26, 27, 28, 29, 30, // 1020
    31, 32, 33, 34, 35, 36, 37, 38, 39, 40, // 1030
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, // 1040
    51, 52, 53, 54, 55, 56, 57, 58, 59, 60, // 1050
    61, 62, 63, 64, -1, 65, 66, 67, 68, 69, // 1060
    70, 71, 72, 73, 74, 75, 76, 77, 78, 79, // 1070
    80, 81, 82, 83, 84, 85, 86, 87, 88, 89, // 1080
    90, 91, 93, 94, 95, 96, 97, 98, 99, 100, // 1090
    101, 102, 103, 104, 105, 106, 107, 108, 109, 110, // 1100
    111, 112, 113, 114, 115, 116, 117, 118, 119, 120, // 1110
    121, 122, 123, 124, 125, 126, 127, 128, 129, 130, // 1120
    131, 132, 133, 134, 135, 136, 137, 138, 139, 140, // 1130
    141, 142, 143, 144, 145, 146, 147, 148, 149, 150, // 1140
    151, 152, 153, 154, 155, 156, 157, 158, 159, 160, // 1150
    161, 162, 163, 164, 165, 166, 167, 168, 169, 170, // 1160
    171, 172, 173, 174, 175, 176, 177, 178, 179, 180, // 1170
    181, 182, 183, 184, 185, 186, 187, 188, 189, 190, // 1180
    191, 192, 193, 195, 196, 197, 198, 199, 200, 201, // 1190
    202, 203, 204, 205, 206, 207, 208, 209, 210, 211, // 1200
    212, 213, 214, 215, 216, 217, 218, 219, 220, 221, // 1210
    222, 223, 224, 225, 226, 227, 228, 229, 230, 231, // 1220
    232, 233, 234, 235, 236, 237, 238, 239, 240, -1, // 1230
    241, 242, 243, 244, 245, 246, 247, 248, 249, 91, // 1240
    250, 251, 252, 253, 254, 255, 256, 257, 258, 259, // 1250
    260, 261, 262, 263, 264, -1, 265, 266, 267, 268, // 1260
    269, 270, 271, 272, 273, 274, 275, 276, 277, 278, // 1270
    279, 281, 282, 283, 284, 285, 286, 287, 288, 289, // 1280
    290, 291, 292, 293, 294, 295, 296, 297, 298, 299, // 1290
    300, 301, 302, 303, 304, 305, 306, 307, 308, 309, // 1300
    310, 311, 312, 313, 314, 315, 316, 317, 318, 319, // 1310
    320, 321, 322, 323, 324, 325, 326, 327, 328, 329, // 1320
    330, 331, 332, 333, 334, 335, 336, 337, 338, 339, // 1330
    340, 341, 342, 343, 344, 345, 346, 347, 348, 349, // 1340
    350, 351, 352, 353, 354, 355, 356, 357, 358, 359, // 1350
    360, 361, 362, 363, 364, 365, 366, 367, 368, 369, // 1360
    370, 371, 372, 373, 374, 375, 376, 377, 378, 379, // 1370
    380, 381, 382, 383, 384, 385, 386, 387, 388, 389, // 1380
    390, 391, 392, 393, 394, 395, 396, 397, 398, 399, // 1390
    400, 401, 403, 404, 405, 406, 91, 91, 91, 407, // 1400
    408, 409, 410, 411, 412, 413, 414, 415, 416, 417, // 1410
    418, 419, 420, 421, 422, 423, 424, 425, 426, 427, // 1420
    428, 429, 430, 431, 432, 433, 434, 435, 436, 437, // 1430
    438, 439, 440, 441, 442, 443, 444, 445, 446, 447, // 1440
    448, 449, 450, 451, 452, 453, 454, 455, 456, 457, // 1450
    458, 459, 460, 461, 462, 463, 464, 465, 466, 467, // 1460
    468, 469, 470, 471, 472, 473, 474, 475, 476, 477, // 1470
    478, 479, 480, 481, 482, 483, 484, 485, 486, 487, // 1480
    488, 489, 490, 491, 492, 493, 494, 495, 496, 497, // 1490
    498, 499, 500, 501, 502, 503, 504, 505, 506, 507, // 1500
    508, 509, 510, 511, 512, 513, 514, 515, 516, 517, // 1510
    518, 519, 520, 521, 522, 523, 524, 525, 526, 527, // 1520
    528, 529, 530, 531, 532, 533, 534, 535, 536, 537, // 1530
    538, 539, 540, 541, 542, 543, 544, 545, 546, 547, // 1540
    548, 549, 550, 551, 552, 553, 554, 555, 556, 557, // 1550
    558, 559, 560, 561, 562, 563, 564, 565, 566, 567, // 1560
    568, 569, 570, 571, 572, 573, 574, 575, 576, 577, // 1570
    578, 579, 580, 581, 582, 583, 584, 585, 586, 587, // 1580
    588, 589, 590, 591, 592, 593, 594, 595, 596, 597, // 1590
    598, 599, 600, 91, 91, 91, 91, 601, 602, 603, // 1600
    604, 605, 606, 607, 608, 609, 610, 611, 612, 613, // 1610
    614, 615, 616, 617, 618, 619, 620, 621, 622, 623, // 1620
};
