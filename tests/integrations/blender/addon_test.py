"""The Blender add-on's tests, run inside headless Blender, or by a Python
with Blender as a module (bpy), by tests/integrations/blender/run-addon-tests:

    blender -b --factory-startup -noaudio --python addon_test.py -- \
        --orvit ORVIT --zip ADDON_ZIP --work FOLDER
    python addon_test.py -- --orvit ORVIT --zip ADDON_ZIP --work FOLDER
"""

import argparse
import importlib
import math
import os
import struct
import subprocess
import sys
import tomllib
import types
import unittest
import zlib

import bpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..',
                                'support'))
import blender_scenes  # noqa: E402

ARGS = None  # the command line after "--", parsed in main
SENSOR_FITS = ('AUTO', 'HORIZONTAL', 'VERTICAL')
# From 4.2 the zip installs as an extension, whose module lives in the
# repository's package; before, as a legacy add-on.
EXTENSIONS = bpy.app.version >= (4, 2, 0)
MODULE = 'bl_ext.user_default.orvit_glow' if EXTENSIONS else 'orvit_glow'
OCIO_SHARED = bool(os.environ.get('OCIO'))  # Blender and orvit read $OCIO's configuration
EEVEE = 'BLENDER_EEVEE_NEXT' if (4, 2, 0) <= bpy.app.version < (5, 0, 0) else 'BLENDER_EEVEE'


def setUpModule():
    if EXTENSIONS:
        bpy.ops.extensions.package_install_files(filepath=ARGS.zip, repo='user_default',
                                                 enable_on_install=True)
    else:
        bpy.ops.preferences.addon_install(filepath=ARGS.zip)
        bpy.ops.preferences.addon_enable(module=MODULE)
    print(f'Blender {bpy.app.version_string}: the add-on is {MODULE}')


def addon():
    return importlib.import_module(MODULE)


def preferences():
    return bpy.context.preferences.addons[MODULE].preferences


def output_format(scene, file_format):
    """Sets the render output's format; from 5.0 its media type first."""
    image = scene.render.image_settings
    if hasattr(image, 'media_type'):
        image.media_type = 'MULTI_LAYER_IMAGE' if file_format == 'OPEN_EXR_MULTILAYER' else 'IMAGE'
    image.file_format = file_format


def build_scene(folder):
    """A small Cycles scene: a camera, a light, and objects with and without
    pass indices; renders of 40 x 24 pixels, one sample, to `folder`."""
    scene = blender_scenes.empty_cycles_scene((40, 24), 1)
    preferences().orvit_path = ARGS.orvit
    scene.orvit_glow.scene_file = ''
    scene.orvit_glow.output = ''
    scene.orvit_glow.render_after_animation = False
    scene.render.resolution_percentage = 100
    scene.render.pixel_aspect_x = scene.render.pixel_aspect_y = 1
    scene.render.dither_intensity = 0
    if hasattr(scene, 'compositing_node_group'):
        scene.compositing_node_group = None
    else:
        scene.use_nodes = False
    scene.render.filepath = os.path.join(folder, 'shot_')
    output_format(scene, 'PNG')
    scene.frame_start, scene.frame_end, scene.frame_step = 1, 3, 1
    scene.render.fps, scene.render.fps_base = 24, 1
    scene.view_settings.view_transform = 'Standard'
    # In Blender 3.4's configuration (Debian's, which the Blender 5 runs
    # share) "Standard" is a table that makes this red 60 where the sRGB
    # formula gives 61. Blender 4's own configuration has the formula, which
    # its OpenColorIO and orvit's older one round apart right at a step
    # between two bytes, as here: with it, the red keeps away from a step.
    red = 0.045922216 if bpy.app.version < (4, 0, 0) or OCIO_SHARED else 0.04
    background = scene.world.node_tree.nodes['Background']
    background.inputs['Color'].default_value = (red, 0.03, 0.08, 1)

    blender_scenes.add_camera(scene, (0, -7, 1.5), 80)
    light = bpy.data.objects.new('Sun', bpy.data.lights.new('Sun', 'SUN'))
    light.rotation_euler = (0.6, 0.3, 0)
    scene.collection.objects.link(light)
    for name, add, location, index in (('Cube', bpy.ops.mesh.primitive_cube_add, (-2, 0, 0), 3),
                                       ('Sphere', bpy.ops.mesh.primitive_uv_sphere_add,
                                        (0, 0, 0), 3),
                                       ('Torus', bpy.ops.mesh.primitive_torus_add, (2, 0, 0), 7),
                                       ('Floor', bpy.ops.mesh.primitive_plane_add,
                                        (0, 0, -1), 0),
                                       ('Hidden', bpy.ops.mesh.primitive_cone_add,
                                        (0, 2, 0), 9)):
        add(location=location)
        obj = bpy.context.active_object
        obj.name = name
        obj.pass_index = index
    bpy.data.objects['Floor'].scale = (6, 6, 1)
    bpy.data.objects['Hidden'].hide_render = True
    marker = bpy.data.objects.new('Marker', None)  # an empty draws nothing
    marker.pass_index = 5
    scene.collection.objects.link(marker)
    return scene


def written_scene(scene, path):
    """The scene file text the add-on makes for `scene`, read as TOML."""
    glow = addon()
    d = glow.blender_scene.describe(scene, bpy.context.view_layer,
                                    bpy.context.evaluated_depsgraph_get(), path)
    return tomllib.loads(glow.scene_text.scene_text(d))


def blender_fov(scene):
    """The horizontal field of view Blender's own projection gives now."""
    render = scene.render
    width = render.resolution_x * render.resolution_percentage // 100
    height = render.resolution_y * render.resolution_percentage // 100
    matrix = scene.camera.calc_matrix_camera(bpy.context.evaluated_depsgraph_get(), x=width,
                                             y=height, scale_x=render.pixel_aspect_x,
                                             scale_y=render.pixel_aspect_y)
    return 2.0 * math.atan(1.0 / matrix[0][0])


def exr_channels(path):
    """The channels of every part of an EXR (Blender 5 writes a part for each
    pass)."""
    info = subprocess.run(['oiiotool', '--info', '-v', '-a', path], capture_output=True,
                          text=True, check=True).stdout
    return [name.strip() for line in info.splitlines() if 'channel list:' in line
            for name in line.split(':', 1)[1].split(',')]


class FieldOfView(unittest.TestCase):
    # Blender keeps the lens, the sensor and its projection in 32-bit floats:
    # its own numbers for one field of view differ by up to about 7e-8 rad.
    TOLERANCE = 2e-7
    worst = 0.0
    compared = 0

    @classmethod
    def tearDownClass(cls):
        print(f'fields of view compared: {cls.compared}, largest difference from '
              f"Blender's projection {cls.worst:.2e} rad")

    def test_matches_blender_at_every_frame_for_each_sensor_fit(self):
        scene = build_scene(ARGS.work)
        output_format(scene, 'OPEN_EXR_MULTILAYER')
        bpy.ops.orvit.setup_passes()
        scene.frame_start, scene.frame_end = 2, 5
        scene.render.fps, scene.render.fps_base = 30, 1.001
        camera = scene.camera.data
        camera.sensor_width, camera.sensor_height = 36, 18
        camera.lens = 18
        camera.keyframe_insert('lens', frame=2)
        camera.lens = 85
        camera.keyframe_insert('lens', frame=5)
        rate = 30 / scene.render.fps_base
        # width, height, percentage, pixel aspect x and y
        frames = ((64, 36, 100, 1, 1), (63, 35, 50, 1, 1), (36, 64, 100, 1, 1),
                  (64, 36, 100, 1, 2.5), (40, 40, 100, 1.3, 1))
        for fit in SENSOR_FITS:
            for width, height, percentage, aspect_x, aspect_y in frames:
                with self.subTest(fit=fit, size=(width, height, percentage),
                                  aspect=(aspect_x, aspect_y)):
                    camera.sensor_fit = fit
                    render = scene.render
                    render.resolution_x, render.resolution_y = width, height
                    render.resolution_percentage = percentage
                    render.pixel_aspect_x, render.pixel_aspect_y = aspect_x, aspect_y
                    toml = written_scene(scene, os.path.join(ARGS.work, 'fov.toml'))
                    self.assertEqual((toml['frames']['first'], toml['frames']['last']), (2, 5))
                    self.assertEqual(toml['frames']['rate'], rate)
                    keys = toml['camera']['keys']
                    self.assertEqual([k['time'] for k in keys], [f / rate for f in range(2, 6)])
                    for frame, key in zip(range(2, 6), keys):
                        scene.frame_set(frame)
                        difference = abs(math.radians(key['fov']) - blender_fov(scene))
                        self.assertLess(difference, self.TOLERANCE, f'frame {frame}')
                        FieldOfView.worst = max(FieldOfView.worst, difference)
                        FieldOfView.compared += 1

    def test_unanimated_camera_gives_one_field_of_view(self):
        scene = build_scene(ARGS.work)
        bpy.ops.orvit.setup_passes()
        toml = written_scene(scene, os.path.join(ARGS.work, 'fov.toml'))
        self.assertNotIn('keys', toml['camera'])
        self.assertLess(abs(math.radians(toml['camera']['fov']) - blender_fov(scene)),
                        self.TOLERANCE)


class Passes(unittest.TestCase):
    def test_channels_and_surfaces_are_those_blender_renders(self):
        folder = os.path.join(ARGS.work, 'passes')
        scene = build_scene(folder)
        bpy.context.view_layer.name = 'Beauty layer'
        bpy.ops.orvit.setup_passes()
        scene.frame_end = 1
        bpy.ops.render.render(animation=True)
        toml = written_scene(scene, os.path.join(folder, 'scene.toml'))
        passes = toml['passes']
        rendered = os.path.join(folder, passes['file'].replace('####', '0001'))
        named = passes['colour_channels'] + [passes['special_channel'], passes['depth_channel']]
        self.assertEqual(set(named) - set(exr_channels(rendered)), set())
        self.assertEqual(passes['far_depth'], 1e10)
        self.assertEqual([(s['name'], s['special']) for s in toml['surfaces']],
                         [('Cube', 3), ('Sphere', 3), ('Torus', 7)])


    def test_eevee_tells_objects_by_name_even_with_pass_indices(self):
        # Eevee writes no Object Index pass.
        for engine, special in (('CYCLES', 'Object Index'), (EEVEE, 'Cryptomatte Object')):
            with self.subTest(engine=engine):
                scene = build_scene(os.path.join(ARGS.work, 'engines'))
                scene.render.engine = engine
                passes = addon().blender_scene.needed_passes(scene, bpy.context.view_layer)
                self.assertEqual([name for name, _ in passes], [special, 'Z'])


def pixels(path):
    """The image's pixels as Blender reads them, and its width."""
    image = bpy.data.images.load(path)
    try:
        return list(image.pixels), image.size[0]
    finally:
        bpy.data.images.remove(image)


def png_rgba(path):
    """An 8-bit RGB or RGBA PNG's pixels, four bytes each as the file holds
    them (straight alpha; 255 where it has none), and its width."""
    with open(path, 'rb') as f:
        data = f.read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    at, compressed = 8, b''
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            compressed += body
    assert depth == 8 and colour in (2, 6) and interlace == 0, path
    channels = 4 if colour == 6 else 3
    stride = width * channels
    raw = zlib.decompress(compressed)
    pixels, above = bytearray(), bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up, corner = above[i], above[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                nearest = min((abs(p - left), 0, left), (abs(p - up), 1, up),
                              (abs(p - corner), 2, corner))[2]
                row[i] = (row[i] + nearest) & 255
        above = row
        for x in range(width):
            pixel = row[x * channels:(x + 1) * channels]
            pixels += pixel if channels == 4 else pixel + b'\xff'
    return bytes(pixels), width


def render_blender_then_passes(scene, folder):
    """Blender's own 8-bit RGBA frames to blender/shot_####.png, then the
    passes set up, rendered to shot_####.exr and the scene written."""
    image = scene.render.image_settings
    image.color_mode, image.color_depth = 'RGBA', '8'
    scene.render.filepath = os.path.join(folder, 'blender', 'shot_')
    bpy.ops.render.render(animation=True)
    scene.render.filepath = os.path.join(folder, 'shot_')
    bpy.ops.orvit.setup_passes()
    bpy.ops.render.render(animation=True)
    bpy.ops.orvit.write_scene()


def work_panel(scene_path, script):
    """Works the scene's settings panel with a panel script, as a user would."""
    subprocess.run([ARGS.orvit, 'edit', scene_path, '--script', '-'], input=script, text=True,
                   check=True, capture_output=True)


# Debian's Blender transforms colour with the OpenColorIO library orvit links:
# every byte is the same. A Blender module brings a newer one of its own,
# which rounds a colour right at a step between two bytes the other way now
# and then: one level apart, in up to about a thousandth of the samples
# (Eevee's smooth shading in 4.2's "Standard" view).
SAME_OPENCOLORIO = bool(bpy.app.binary_path)
ROUNDED_APART = 1e-2  # the share of samples that may be one level apart


def assert_same_pixels(test, path, expected_path):
    got, width = pixels(path)
    want, _ = pixels(expected_path)
    test.assertEqual(len(got), len(want))
    apart = 0
    for i in range(len(want)):
        if got[i] != want[i]:
            x, y = i // 4 % width, i // 4 // width
            where = (f'{path} ({x}, {y}): {[round(v * 255) for v in got[i - i % 4:][:4]]}, '
                     f'Blender wrote {[round(v * 255) for v in want[i - i % 4:][:4]]}')
            test.assertFalse(SAME_OPENCOLORIO, where)
            test.assertEqual(abs(round(got[i] * 255) - round(want[i] * 255)), 1, where)
            apart += 1
    test.assertLessEqual(apart, ROUNDED_APART * len(want), f'{path}: {apart} samples apart')
    GlowedFrames.frames += 1
    GlowedFrames.apart += apart


class GlowedFrames(unittest.TestCase):
    frames = 0
    apart = 0  # samples one level apart

    def assertSamePixels(self, path, expected_path):
        assert_same_pixels(self, path, expected_path)

    def test_unglowed_pixels_are_blenders_own_8_bit_output(self):
        # Standard runs the glow with the button; Filmic with a look after
        # the animation render, from the render handler.
        for view, look in (('Standard', 'None'), ('Filmic', 'Medium High Contrast')):
            with self.subTest(view=view):
                folder = os.path.join(ARGS.work, f'{view} #1')  # '#' in a folder's name
                scene = build_scene(folder)
                scene.view_settings.view_transform, scene.view_settings.look = view, look
                render_blender_then_passes(scene, folder)
                scene_path = os.path.join(folder, 'shot_orvit.toml')
                glowed = os.path.join(folder, 'glow', 'shot_{:04}.png')
                blender = os.path.join(folder, 'blender', 'shot_{:04}.png')
                bpy.ops.orvit.render_glow()
                changed = sum(pixels(glowed.format(f))[0] != pixels(blender.format(f))[0]
                              for f in range(1, 4))
                self.assertEqual(changed, 3, 'the default glow shows in every frame')

                work_panel(scene_path, 'tick "Enable Orvit" off\nok\n')
                bpy.ops.orvit.write_scene()  # keeps the settings
                for f in range(1, 4):
                    os.remove(glowed.format(f))
                if view == 'Standard':
                    bpy.ops.orvit.render_glow()
                else:
                    scene.orvit_glow.render_after_animation = True
                    bpy.ops.render.render(animation=True)
                for f in range(1, 4):
                    self.assertSamePixels(glowed.format(f), blender.format(f))

                with self.assertRaises(RuntimeError) as raised:
                    bpy.ops.orvit.edit_glow()  # no display here
                self.assertIn('orvit: ', str(raised.exception))


class TransparentFilm(unittest.TestCase):
    def test_every_byte_is_blenders_own_rgba_png(self):
        folder = os.path.join(ARGS.work, 'transparent')
        scene = build_scene(folder)
        scene.render.film_transparent = True
        scene.cycles.samples = 8  # edges of partial coverage
        scene.frame_end = 1
        scene.view_settings.view_transform = 'Filmic'
        scene.view_settings.look = 'Medium High Contrast'
        bpy.data.objects.remove(bpy.data.objects['Floor'])
        glass = bpy.data.materials.new('Half')
        glass.use_nodes = True
        principled = glass.node_tree.nodes['Principled BSDF']
        principled.inputs['Alpha'].default_value = 0.4
        principled.inputs['Base Color'].default_value = (0.9, 0.2, 0.05, 1)
        bpy.data.objects['Torus'].data.materials.append(glass)
        render_blender_then_passes(scene, folder)
        work_panel(os.path.join(folder, 'shot_orvit.toml'), 'tick "Enable Orvit" off\nok\n')
        bpy.ops.orvit.render_glow()

        got, width = png_rgba(os.path.join(folder, 'glow', 'shot_0001.png'))
        want, _ = png_rgba(os.path.join(folder, 'blender', 'shot_0001.png'))
        self.assertEqual(len(got), len(want))
        kinds = {'opaque': 0, 'partly transparent': 0, 'empty': 0}
        for i in range(0, len(want), 4):
            alpha = want[i + 3]
            kinds['opaque' if alpha == 255 else 'empty' if alpha == 0 else
                  'partly transparent'] += 1
            if got[i:i + 4] != want[i:i + 4]:
                self.fail(f'({i // 4 % width}, {i // 4 // width}): {list(got[i:i + 4])}, '
                          f'Blender wrote {list(want[i:i + 4])}')
        print(f"pixels equal to Blender's RGBA PNG: {kinds}")
        self.assertTrue(all(kinds.values()), kinds)


# The batch render of a Blender module: the rest of `blender -b FILE --addons
# ADDON -a` in a Python of its own.
MODULE_BATCH_RENDER = """import sys, bpy, addon_utils
bpy.ops.wm.open_mainfile(filepath=sys.argv[1])
addon_utils.enable(sys.argv[2], default_set=True)
bpy.ops.render.render(animation=True)
"""


def batch_render(blend):
    """The command line that renders the animation of `blend` in a Blender
    of its own with the add-on enabled for that run."""
    if bpy.app.binary_path:
        return [bpy.app.binary_path, '-b', blend, '--addons', MODULE, '-a']
    return [sys.executable, '-c', MODULE_BATCH_RENDER, blend, MODULE]


class BatchRender(unittest.TestCase):
    """`blender -b FILE -a` with "Glow after animation renders" ticked and
    the scene file never written, in a Blender of its own."""

    def test_writes_the_scene_and_glows_or_fails_with_a_line_and_exit_status_1(self):
        for fault in (False, True):
            with self.subTest(fault=fault):
                folder = os.path.join(ARGS.work, f'batch {fault}')
                scene = build_scene(folder)
                scene.frame_end = 2
                bpy.ops.orvit.setup_passes()
                scene.orvit_glow.render_after_animation = True
                if fault:
                    bpy.data.objects['Torus'].pass_index = 300
                blend = os.path.join(folder, 'shot.blend')
                os.makedirs(folder, exist_ok=True)
                bpy.ops.wm.save_as_mainfile(filepath=blend, copy=True)
                # The child finds orvit on PATH: its preferences are the defaults.
                path = os.pathsep.join((os.path.dirname(os.path.abspath(ARGS.orvit)),
                                        os.environ['PATH']))
                r = subprocess.run(batch_render(blend), env=dict(os.environ, PATH=path),
                                   capture_output=True, text=True)
                glowed = [os.path.isfile(os.path.join(folder, 'glow', f'shot_000{f}.png'))
                          for f in (1, 2)]
                complaints = [line for line in r.stderr.splitlines() if 'Orvit glow' in line]
                if fault:
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    self.assertEqual(len(complaints), 1, r.stderr)
                    self.assertIn("object 'Torus' has pass index 300", complaints[0])
                    self.assertEqual(glowed, [False, False])
                else:
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    self.assertEqual(complaints, [])
                    self.assertIn("Orvit glow: Glowed 2 frames", r.stdout)
                    self.assertTrue(os.path.isfile(os.path.join(folder, 'shot_orvit.toml')))
                    self.assertEqual(glowed, [True, True])


class Reports(unittest.TestCase):
    def test_frame_counts_and_colour_warnings(self):
        run = types.SimpleNamespace(scene_name='Scene', error='', cancelled=False, total=1,
                                    output='glow/shot_####.png')
        for done, line in ((1, "Glowed 1 frame to 'glow/shot_####.png'"),
                           (2, "Glowed 2 frames to 'glow/shot_####.png'")):
            run.done = done
            self.assertEqual(addon().operators.glow_outcome(run), ('INFO', line))
        def dither(scene):
            scene.render.dither_intensity = 1

        def compositor(scene):
            # The compositor's node tree: its own data-block from 5.0.
            if hasattr(scene, 'compositing_node_group'):
                scene.compositing_node_group = bpy.data.node_groups.new(
                    'Compositing', 'CompositorNodeTree')
            else:
                scene.use_nodes = True

        for setup, warning in ((dither, 'Dither is 1'), (compositor, 'the compositor makes')):
            with self.subTest(setup=setup.__name__):
                scene = build_scene(os.path.join(ARGS.work, 'reports'))
                self.assertEqual(addon().blender_scene.colour_warnings(scene), [])
                setup(scene)
                warnings = addon().blender_scene.colour_warnings(scene)
                self.assertEqual(len(warnings), 1, warnings)
                self.assertIn(warning, warnings[0])


class Errors(unittest.TestCase):
    def test_each_fault_is_one_line_in_the_report(self):
        def no_camera(scene):
            scene.camera = None

        def orthographic(scene):
            scene.camera.data.type = 'ORTHO'

        def workbench(scene):
            scene.render.engine = 'BLENDER_WORKBENCH'

        def no_orvit(scene):
            preferences().orvit_path = os.path.join(ARGS.work, 'no-orvit')

        def big_index(scene):
            bpy.data.objects['Torus'].pass_index = 300

        def png(scene):
            output_format(scene, 'PNG')

        cases = ((no_camera, bpy.ops.orvit.write_scene, "scene 'Scene' has no camera"),
                 (orthographic, bpy.ops.orvit.write_scene, "camera 'Camera' is orthographic"),
                 (workbench, bpy.ops.orvit.write_scene,
                  'Workbench renders no Object Index or Cryptomatte pass'),
                 (no_orvit, bpy.ops.orvit.write_scene, 'no-orvit\' is not an executable file'),
                 (big_index, bpy.ops.orvit.write_scene, "object 'Torus' has pass index 300"),
                 (png, bpy.ops.orvit.write_scene, 'render output is PNG, not multilayer'),
                 (no_camera, bpy.ops.orvit.render_glow, "shot_orvit.toml': press Write scene"))
        for setup, operator, message in cases:
            with self.subTest(fault=setup.__name__, operator=operator.idname()):
                scene = build_scene(os.path.join(ARGS.work, 'errors'))
                bpy.ops.orvit.setup_passes()
                setup(scene)
                with self.assertRaises(RuntimeError) as raised:
                    operator()
                report = str(raised.exception)
                self.assertIn(message, report)
                self.assertEqual(len(report.strip().splitlines()), 1, report)


    def test_a_colour_configuration_orvit_cannot_read_says_what_to_do(self):
        # As Blender 5's own configuration is to an OpenColorIO 2.1.
        folder = os.path.join(ARGS.work, 'unread colour')
        scene = build_scene(folder)
        scene.frame_end = 1
        bpy.ops.orvit.setup_passes()
        bpy.ops.render.render(animation=True)
        newer = os.path.join(folder, 'newer.ocio')
        with open(newer, 'w', encoding='utf-8') as f:
            f.write('ocio_profile_version: 9\n')
        before = os.environ.get('OCIO')
        os.environ['OCIO'] = newer  # read by the add-on as it writes the scene
        try:
            bpy.ops.orvit.write_scene()
        finally:
            if before is None:
                del os.environ['OCIO']
            else:
                os.environ['OCIO'] = before
        with self.assertRaises(RuntimeError) as raised:
            bpy.ops.orvit.render_glow()
        report = str(raised.exception)
        self.assertIn(f"OpenColorIO configuration '{newer}' cannot be read", report)
        self.assertIn('start Blender with $OCIO', report)
        self.assertEqual(len(report.strip().splitlines()), 1, report)


def murmur3(data):
    """MurmurHash3_x86_32 of `data`, seed 0, as its authors publish it."""
    def mix(k):
        k = (k * 0xcc9e2d51) & 0xffffffff
        k = ((k << 15) | (k >> 17)) & 0xffffffff
        return (k * 0x1b873593) & 0xffffffff
    h = 0
    whole = len(data) // 4 * 4
    for i in range(0, whole, 4):
        h ^= mix(int.from_bytes(data[i:i + 4], 'little'))
        h = ((h << 13) | (h >> 19)) & 0xffffffff
        h = (h * 5 + 0xe6546b64) & 0xffffffff
    if len(data) > whole:
        h ^= mix(int.from_bytes(data[whole:], 'little'))
    h ^= len(data)
    h ^= h >> 16
    h = (h * 0x85ebca6b) & 0xffffffff
    h ^= h >> 13
    h = (h * 0xc2b2ae35) & 0xffffffff
    return h ^ (h >> 16)


def cryptomatte_id(name):
    """The float bits a Cryptomatte stores for `name`: its hash, kept off
    the exponents 0 and 255."""
    h = murmur3(name.encode('utf-8'))
    return h ^ (1 << 23) if (h >> 23) & 0xff in (0, 255) else h


def rank_zero_ids(exr, layer):
    """The id of the rank-0 object of every pixel, bottom row first (as
    Blender's images list pixels): the first level's red channel, as the
    bits of the floats of an uncompressed little-endian TIFF, top row first."""
    tiff = exr + '.tif'
    part = f'{layer}.CryptoObject00'  # a part of its own from Blender 5 on
    pick = ['--subimage', part] if bpy.app.version >= (5, 0, 0) else []
    subprocess.run(['oiiotool', exr] + pick + ['--ch', f'{part}.r', '-d', 'float',
                    '--compression', 'none', '-o', tiff], check=True, capture_output=True)
    with open(tiff, 'rb') as f:
        data = f.read()
    if data[:4] != b'II*\0':
        raise ValueError(f'{tiff}: not a little-endian TIFF')
    ifd = struct.unpack('<I', data[4:8])[0]
    tags = {}
    for k in range(struct.unpack('<H', data[ifd:ifd + 2])[0]):
        tag, kind, count, value = struct.unpack('<HHII', data[ifd + 2 + 12 * k:ifd + 14 + 12 * k])
        if tag in (256, 257, 273, 279):  # width, height, strip offsets and sizes
            size, code = (2, 'H') if kind == 3 else (4, 'I')
            raw = (data[value:value + count * size] if count * size > 4 else
                   struct.pack('<I', value)[:count * size])
            tags[tag] = struct.unpack(f'<{count}{code}', raw)
    width, height = tags[256][0], tags[257][0]
    pixels_data = b''.join(data[o:o + n] for o, n in zip(tags[273], tags[279]))
    ids = struct.unpack(f'<{width * height}I', pixels_data[:width * height * 4])
    return [i for y in reversed(range(height)) for i in ids[y * width:(y + 1) * width]]


def check_glow_by_name(test, folder, engine):
    """Objects without pass indices, two frames from start to end: Set up
    passes turns on the Cryptomatte object pass, Write scene names a surface
    for every object, for each the special buffer orvit fills is where an
    independent rank-0 decode of Blender's render finds that object, the
    glow shows in both frames, and with it off every pixel is Blender's own
    8-bit frame's."""
    scene = build_scene(folder)
    scene.render.engine = engine
    scene.eevee.taa_render_samples = 1
    for obj in bpy.data.objects:
        obj.pass_index = 0
    # The panel's 256 x 192 snapshot of a frame of that size is the frame.
    scene.render.resolution_x, scene.render.resolution_y = 256, 192
    scene.frame_end = 2
    render_blender_then_passes(scene, folder)
    test.assertTrue(bpy.context.view_layer.use_pass_cryptomatte_object)
    scene_path = os.path.join(folder, 'shot_orvit.toml')
    with open(scene_path, 'rb') as f:
        written = tomllib.load(f)
    layer = bpy.context.view_layer.name
    test.assertEqual(written['passes']['cryptomatte'], f'{layer}.CryptoObject')
    surfaces = {s['name']: s['special'] for s in written['surfaces']}
    test.assertEqual(surfaces, {'Cube': 1, 'Floor': 2, 'Sphere': 3, 'Torus': 4})

    ids = rank_zero_ids(os.path.join(folder, 'shot_0001.exr'), layer)
    for name, value in surfaces.items():
        preview = os.path.join(folder, f'special-{value}.png')
        subprocess.run([ARGS.orvit, 'preview', scene_path, '--frame', '1', '--value', str(value),
                        '--display', 'special', '--output', preview], check=True,
                       capture_output=True)
        got, width = pixels(preview)
        want = cryptomatte_id(name)
        test.assertEqual(len(got), 4 * len(ids))
        test.assertGreater(ids.count(want), 0, name)
        for i, id_bits in enumerate(ids):
            if (got[4 * i] > 0.5) != (id_bits == want):
                test.fail(f'{name} ({i % width}, {i // width} from the bottom): orvit '
                          f'{"has" if got[4 * i] > 0.5 else "lacks"} it, the decode '
                          f'{"has" if id_bits == want else "lacks"} it')

    glowed = os.path.join(folder, 'glow', 'shot_{:04}.png')
    blender = os.path.join(folder, 'blender', 'shot_{:04}.png')
    bpy.ops.orvit.render_glow()
    for f in (1, 2):
        test.assertNotEqual(pixels(glowed.format(f))[0], pixels(blender.format(f))[0],
                            f'the glow shows in frame {f}')
    work_panel(scene_path, 'tick "Enable Orvit" off\nok\n')
    for f in (1, 2):
        os.remove(glowed.format(f))
    bpy.ops.orvit.render_glow()
    for f in (1, 2):
        assert_same_pixels(test, glowed.format(f), blender.format(f))
    # Written again, a name keeps its value; a new one takes a free value.
    bpy.data.objects['Floor'].name = 'Ground'
    bpy.ops.orvit.write_scene()
    with open(scene_path, 'rb') as f:
        again = {s['name']: s['special'] for s in tomllib.load(f)['surfaces']}
    test.assertEqual(again, {'Cube': 1, 'Sphere': 3, 'Torus': 4, 'Ground': 5})


class GlowByName(unittest.TestCase):
    def test_cycles_objects_without_pass_indices_glow_by_name(self):
        check_glow_by_name(self, os.path.join(ARGS.work, "cycles-by-name"), "CYCLES")


class EeveeGlowByName(unittest.TestCase):
    """Eevee needs a display (Xvfb): run alone, with --eevee."""

    def test_eevee_objects_glow_by_name(self):
        check_glow_by_name(self, os.path.join(ARGS.work, 'eevee-by-name'), EEVEE)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--orvit', required=True)
    parser.add_argument('--zip', required=True)
    parser.add_argument('--work', required=True)
    parser.add_argument('--eevee', action='store_true')
    ARGS = parser.parse_args(sys.argv[sys.argv.index('--') + 1:])
    loader = unittest.defaultTestLoader
    cases = ((EeveeGlowByName,) if ARGS.eevee else
             (FieldOfView, Passes, GlowedFrames, TransparentFilm, BatchRender, Reports, Errors,
              GlowByName))
    tests = unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in cases)
    result = unittest.TextTestRunner(verbosity=2).run(tests)
    print(f"glowed frames compared with Blender's own 8-bit frames: {GlowedFrames.frames}, "
          f"samples one level apart: {GlowedFrames.apart}")
    sys.exit(0 if result.wasSuccessful() else 1)


main()
