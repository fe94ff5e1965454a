"""The scene file `orvit` reads, made from plain numbers and names.

Nothing here touches Blender, so that the tests can call it directly and the
operators can build everything before they write anything.
"""

import math
import os
import re
import tomllib
from dataclasses import dataclass, field

# Cycles marks empty background in the Depth pass with 1e10.
FAR_DEPTH = 1.0e10


class SceneError(Exception):
    """A one-line reason why the scene cannot be written or run."""


def horizontal_fov(lens, sensor_width, sensor_height, sensor_fit, width, height,
                   pixel_aspect_x=1.0, pixel_aspect_y=1.0):
    """The horizontal field of view in radians of a perspective camera.

    Blender's rules: the sensor size fits the frame's width ("HORIZONTAL"),
    its height ("VERTICAL", with the sensor's height) or, for "AUTO", the
    larger side of the frame (with the sensor's width). The frame is
    `width` x `height` pixels, each `pixel_aspect_x` wide and
    `pixel_aspect_y` high.
    """
    frame_width = width * pixel_aspect_x
    frame_height = height * pixel_aspect_y
    if sensor_fit == 'VERTICAL':
        sensor, fits_width = sensor_height, False
    else:
        sensor = sensor_width
        fits_width = sensor_fit == 'HORIZONTAL' or frame_width >= frame_height
    half_width = sensor / (2.0 * lens)
    if not fits_width:
        half_width *= frame_width / frame_height
    return 2.0 * math.atan(half_width)


def frame_pattern(path_of_frame):
    """`orvit`'s pattern for the files `path_of_frame(frame)` names: the
    frame number's digits become a run of '#' as long as the number is
    padded. Like Blender, `orvit` takes the last run of '#' in the file name
    for the frame, so any '#' the name had besides is left as it is."""
    one, two = path_of_frame(1), path_of_frame(2)
    if one == two or len(one) != len(two):
        raise SceneError(f"the render output '{one}' holds no frame number")
    last = next(i for i in range(len(one)) if one[i] != two[i])
    digits = 1
    while len(path_of_frame(10 ** digits)) == len(one):
        digits += 1
    begin = last - digits + 1
    return one[:begin] + '#' * digits + one[last + 1:]


def channel_names(layer, index_pass):
    """The channels of view layer `layer` in Blender's multilayer EXR, its
    Object Index pass named `index_pass`, and the type name of its
    Cryptomatte object layer."""
    return {
        'colour': [f'{layer}.Combined.{c}' for c in 'RGBA'],
        'special': f'{layer}.{index_pass}.X',
        'depth': f'{layer}.Depth.Z',
        'cryptomatte': f'{layer}.CryptoObject',
    }


def colour_transform(display, view, look, config):
    """The `[colour]` keys that turn float colour into what Blender shows:
    the scene's display, view and look through Blender's own OpenColorIO
    configuration. Even for "Standard" on "sRGB": that view is a table
    which, near a step between two bytes, can give the byte below the one
    the sRGB formula gives."""
    keys = {'transform': 'ocio', 'config': config, 'display': display, 'view': view}
    if look not in ('', 'None'):
        keys['look'] = look
    return keys


def frame_path(pattern, frame):
    """`pattern` with the last run of '#' in its file name replaced by the
    frame number, zero-padded to the run's length, as `orvit` reads it."""
    name = pattern.rfind('/') + 1
    runs = list(re.finditer('#+', pattern[name:]))
    if not runs:
        return pattern
    begin, end = name + runs[-1].start(), name + runs[-1].end()
    return pattern[:begin] + str(frame).zfill(end - begin) + pattern[end:]


def default_scene_path(pass_file):
    """The scene file beside the passes: `shot_####.exr` gives `shot_orvit.toml`."""
    folder, name = os.path.split(pass_file)
    mark = list(re.finditer('#+', name))[-1]
    return os.path.join(folder, name[:mark.start()] + 'orvit.toml')


def default_output(pass_file):
    """The glowed frames in `glow/` beside the passes, as PNG."""
    folder, name = os.path.split(pass_file)
    return os.path.join(folder, 'glow', os.path.splitext(name)[0] + '.png')


def settings_path(scene_path):
    """The glow settings file that goes with a scene file."""
    return os.path.splitext(scene_path)[0] + '-glow.txt'


def frame_runs(frames):
    """Sorted frame numbers as runs of consecutive frames [(first, last)]."""
    runs = []
    for frame in sorted(set(frames)):
        if runs and runs[-1][1] == frame - 1:
            runs[-1] = (runs[-1][0], frame)
        else:
            runs.append((frame, frame))
    return runs


def new_special_values(surfaces, old_scene_text):
    """The special values of `surfaces` that the scene `old_scene_text`
    (as `scene_text` wrote it; None for no scene) did not have."""
    old = set()
    if old_scene_text is not None:
        old = {int(v) for v in re.findall(r'^special\s*=\s*(\d+)', old_scene_text, re.M)}
    return sorted({s.special for s in surfaces} - old)


def named_surfaces(names, old_scene_text):
    """One surface for each object name of `names`. A name keeps the value it
    has in the scene `old_scene_text` (as `scene_text` wrote it; None for no
    scene), since the glow settings are kept by value; the others take, in
    sorted order, the lowest values no surface of either scene has."""
    old = {}
    if old_scene_text is not None:
        try:
            for entry in tomllib.loads(old_scene_text).get('surfaces', []):
                if isinstance(entry.get('name'), str) and isinstance(entry.get('special'), int):
                    old.setdefault(entry['name'], entry['special'])
        except tomllib.TOMLDecodeError:
            old = {}
    names = sorted(set(names))
    surfaces = [Surface(name, old[name]) for name in names if name in old]
    taken = set(old.values())
    fresh = [name for name in names if name not in old]
    free = [value for value in range(1, 256) if value not in taken]
    if len(fresh) > len(free):
        raise SceneError(f"{len(names)} objects to glow by name, more than orvit's 255 special "
                         "values: hide some from rendering, or give the objects to glow a pass "
                         "index")
    surfaces += [Surface(name, value) for name, value in zip(fresh, free)]
    return sorted(surfaces, key=lambda s: (s.special, s.name))


@dataclass
class Surface:
    name: str
    special: int


@dataclass
class SceneDescription:
    """What `scene_text` writes. Paths are whole; the text makes those
    inside the scene's folder relative to it."""
    path: str                      # the scene file
    first: int
    last: int
    rate: float
    fovs: list                     # [(time in seconds, radians)]; one entry: not keyed
    pass_file: str                 # pattern with '#' for the frame number
    layer: str                     # the view layer whose channels are named
    index_pass: str                # the Object Index pass's name in the EXR
    colour: dict
    output: str
    settings_file: str
    surfaces: list = field(default_factory=list)
    far_depth: float = FAR_DEPTH
    by_name: bool = False          # the special pass from the layer's Cryptomatte


def toml_string(text):
    """`text` as a TOML basic string."""
    out = []
    for ch in text:
        if ch in '"\\':
            out.append('\\' + ch)
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append(f'\\u{ord(ch):04X}')
        else:
            out.append(ch)
    return '"' + ''.join(out) + '"'


def toml_number(value):
    """`value` so that it reads back as the same double."""
    return repr(float(value))


def _relative(path, folder):
    relative = os.path.relpath(path, folder)
    return path if relative.startswith('..') else relative


def scene_text(d):
    """The scene file for `d`, as text."""
    folder = os.path.dirname(d.path)
    channels = channel_names(d.layer, d.index_pass)
    lines = ['# Written by the Orvit glow add-on for Blender; written again by its',
             '# "Write scene" button. The glow settings are in the settings file.', '']
    if len(d.fovs) == 1:
        lines += ['[camera]', f'fov = {toml_number(math.degrees(d.fovs[0][1]))}']
    else:
        keys = ',\n  '.join(f'{{time = {toml_number(t)}, fov = {toml_number(math.degrees(f))}}}'
                            for t, f in d.fovs)
        lines += ['[camera]', f'keys = [\n  {keys},\n]']
    lines += ['', '[frames]', f'first = {d.first}', f'last = {d.last}',
              f'rate = {toml_number(d.rate)}', '']
    lines += ['[passes]', f'file = {toml_string(_relative(d.pass_file, folder))}',
              'colour_channels = [' + ', '.join(map(toml_string, channels['colour'])) + ']',
              (f"cryptomatte = {toml_string(channels['cryptomatte'])}" if d.by_name else
               f"special_channel = {toml_string(channels['special'])}"),
              f"depth_channel = {toml_string(channels['depth'])}",
              f'far_depth = {toml_number(d.far_depth)}', '']
    for s in d.surfaces:
        lines += ['[[surfaces]]', f'name = {toml_string(s.name)}', f'special = {s.special}', '']
    lines += ['[colour]']
    for key, value in d.colour.items():
        lines.append(f'{key} = {toml_string(value)}')
    lines += ['', '[output]', f'file = {toml_string(_relative(d.output, folder))}', '',
              '[filter]', f'settings_file = {toml_string(_relative(d.settings_file, folder))}']
    return '\n'.join(lines) + '\n'
