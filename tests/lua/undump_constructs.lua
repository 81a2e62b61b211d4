-- Constructs whose compiled form the binary loader must accept (every test script is also
-- dumped and reloaded by the unit tests): constructors, closures, loops, gotos, to-be-closed
-- variables, method calls with register keys, large constant tables.
local checks = 0
local function check(c, msg) assert(c, msg) checks = checks + 1 end
local consts = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "c10", "c11", "c12", "c13", "c14", "c15", "c16", "c17", "c18", "c19", "c20", "c21", "c22", "c23", "c24", "c25", "c26", "c27", "c28", "c29", "c30", "c31", "c32", "c33", "c34", "c35", "c36", "c37", "c38", "c39", "c40", "c41", "c42", "c43", "c44", "c45", "c46", "c47", "c48", "c49", "c50", "c51", "c52", "c53", "c54", "c55", "c56", "c57", "c58", "c59", "c60", "c61", "c62", "c63", "c64", "c65", "c66", "c67", "c68", "c69", "c70", "c71", "c72", "c73", "c74", "c75", "c76", "c77", "c78", "c79", "c80", "c81", "c82", "c83", "c84", "c85", "c86", "c87", "c88", "c89", "c90", "c91", "c92", "c93", "c94", "c95", "c96", "c97", "c98", "c99", "c100", "c101", "c102", "c103", "c104", "c105", "c106", "c107", "c108", "c109", "c110", "c111", "c112", "c113", "c114", "c115", "c116", "c117", "c118", "c119", "c120", "c121", "c122", "c123", "c124", "c125", "c126", "c127", "c128", "c129", "c130", "c131", "c132", "c133", "c134", "c135", "c136", "c137", "c138", "c139", "c140", "c141", "c142", "c143", "c144", "c145", "c146", "c147", "c148", "c149", "c150", "c151", "c152", "c153", "c154", "c155", "c156", "c157", "c158", "c159", "c160", "c161", "c162", "c163", "c164", "c165", "c166", "c167", "c168", "c169", "c170", "c171", "c172", "c173", "c174", "c175", "c176", "c177", "c178", "c179", "c180", "c181", "c182", "c183", "c184", "c185", "c186", "c187", "c188", "c189", "c190", "c191", "c192", "c193", "c194", "c195", "c196", "c197", "c198", "c199", "c200", "c201", "c202", "c203", "c204", "c205", "c206", "c207", "c208", "c209", "c210", "c211", "c212", "c213", "c214", "c215", "c216", "c217", "c218", "c219", "c220", "c221", "c222", "c223", "c224", "c225", "c226", "c227", "c228", "c229", "c230", "c231", "c232", "c233", "c234", "c235", "c236", "c237", "c238", "c239", "c240", "c241", "c242", "c243", "c244", "c245", "c246", "c247", "c248", "c249", "c250", "c251", "c252", "c253", "c254", "c255", "c256", "c257", "c258", "c259", "c260", "c261", "c262", "c263", "c264", "c265", "c266", "c267", "c268", "c269", "c270", "c271", "c272", "c273", "c274", "c275", "c276", "c277", "c278", "c279", "c280", "c281", "c282", "c283", "c284", "c285", "c286", "c287", "c288", "c289", "c290", "c291", "c292", "c293", "c294", "c295", "c296", "c297", "c298", "c299"}
check(#consts == 300 and consts[300] == 'c299')
local obj = {}
function obj:a_method_name_that_is_much_longer_than_forty_characters(x) return x * 2 end
function obj:short(x) return x + 1 end
check(obj:a_method_name_that_is_much_longer_than_forty_characters(21) == 42)
check(obj:short(1) == 2)
local big = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254, 255, 256, 257, 258, 259, 260, 261, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271, 272, 273, 274, 275, 276, 277, 278, 279, 280, 281, 282, 283, 284, 285, 286, 287, 288, 289, 290, 291, 292, 293, 294, 295, 296, 297, 298, 299, 300, 301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311, 312, 313, 314, 315, 316, 317, 318, 319, 320, 321, 322, 323, 324, 325, 326, 327, 328, 329, 330, 331, 332, 333, 334, 335, 336, 337, 338, 339, 340, 341, 342, 343, 344, 345, 346, 347, 348, 349, 350, 351, 352, 353, 354, 355, 356, 357, 358, 359, 360, 361, 362, 363, 364, 365, 366, 367, 368, 369, 370, 371, 372, 373, 374, 375, 376, 377, 378, 379, 380, 381, 382, 383, 384, 385, 386, 387, 388, 389, 390, 391, 392, 393, 394, 395, 396, 397, 398, 399, 400, 401, 402, 403, 404, 405, 406, 407, 408, 409, 410, 411, 412, 413, 414, 415, 416, 417, 418, 419, 420, 421, 422, 423, 424, 425, 426, 427, 428, 429, 430, 431, 432, 433, 434, 435, 436, 437, 438, 439, 440, 441, 442, 443, 444, 445, 446, 447, 448, 449, 450, 451, 452, 453, 454, 455, 456, 457, 458, 459, 460, 461, 462, 463, 464, 465, 466, 467, 468, 469, 470, 471, 472, 473, 474, 475, 476, 477, 478, 479, 480, 481, 482, 483, 484, 485, 486, 487, 488, 489, 490, 491, 492, 493, 494, 495, 496, 497, 498, 499, 500, 501, 502, 503, 504, 505, 506, 507, 508, 509, 510, 511, 512, 513, 514, 515, 516, 517, 518, 519, 520, 521, 522, 523, 524, 525, 526, 527, 528, 529, 530, 531, 532, 533, 534, 535, 536, 537, 538, 539, 540, 541, 542, 543, 544, 545, 546, 547, 548, 549, 550, 551, 552, 553, 554, 555, 556, 557, 558, 559, 560, 561, 562, 563, 564, 565, 566, 567, 568, 569, 570, 571, 572, 573, 574, 575, 576, 577, 578, 579, 580, 581, 582, 583, 584, 585, 586, 587, 588, 589, 590, 591, 592, 593, 594, 595, 596, 597, 598, 599, 600}
check(#big == 600 and big[600] == 600)
-- constructors with jumps, calls and varargs inside
local function pack(...) return {n = select('#', ...), ...} end
local a, b = nil, 5
local t = {a and 1 or 2, b or 3, (function() return 7, 8 end)(), x = b > 3 and "big" or "small", pack(1, 2)}
check(t[1] == 2 and t[2] == 5 and t[3] == 7 and t.x == "big" and t[4].n == 2)
local u = {(function() return 7, 8 end)()}
check(#u == 2)
local p = pack(nil, nil, 3)
check(p.n == 3 and p[3] == 3)
-- closures capturing loop variables, closed at every iteration
local fs = {}
for i = 1, 3 do fs[i] = function() return i end end
check(fs[1]() == 1 and fs[3]() == 3)
for k, v in pairs({x = 1}) do fs.k = function() return k .. v end end
check(fs.k() == "x1")
local j = 0
while j < 3 do
  j = j + 1
  local captured = j * 10
  fs[j] = function() return captured end
  local after = {j, captured} -- a constructor in a register a closed upvalue used before
  check(after[2] == captured)
end
check(fs[2]() == 20)
repeat
  local r = 5
  fs.r = function() return r end
until fs.r() == 5
-- gotos out of blocks with captured locals
do
  local n = 0
  ::again::
  do
    local c = n
    fs.g = function() return c end
    n = n + 1
    if n < 3 then goto again end
  end
  check(fs.g() == 2)
end
-- to-be-closed variables
local closed = {}
do
  local x <close> = setmetatable({}, {__close = function() closed[#closed + 1] = "x" end})
  local y <const> = 10
  check(y == 10)
end
check(closed[1] == "x")
local function withclose()
  local z <close> = setmetatable({}, {__close = function() closed[#closed + 1] = "z" end})
  return 1, 2
end
check(select('#', withclose()) == 2 and closed[2] == "z")
-- method calls, tail calls, varargs
local function tail(n, ...) if n == 0 then return select('#', ...) end return tail(n - 1, ...) end
check(tail(10, 1, 2, 3) == 3)
local function va(...) local t2 = {...} return #t2, ... end
check(va(1, 2) == 2)
-- numeric and float loops, nested
local sum = 0
for i = 1, 10 do for k = 10, 1, -3 do sum = sum + i * k end end
for x = 0.5, 2.0, 0.5 do sum = sum + x end
check(sum == 55 * 22 + 5)
-- integer and float arithmetic with constants of every kind
local m = 7
check(m + 1 == 8 and m - 1 == 6 and m * 2.5 == 17.5 and m // 2 == 3 and m % 4 == 3 and m ^ 2 == 49)
check(m & 3 == 3 and m | 8 == 15 and m ~ 1 == 6 and m << 2 == 28 and m >> 1 == 3 and ~m == -8)
check(-m == -7 and not (m == 8) and #"abc" == 3 and "a" .. m == "a7")
assert(checks == 23, checks)
print("ok")
