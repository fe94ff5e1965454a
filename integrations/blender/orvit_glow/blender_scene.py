"""What the scene file says, read from a Blender scene."""

import os

import bpy

from . import scene_text
from .scene_text import SceneDescription, SceneError, Surface

# Object types that draw into the Object Index pass (grease pencil is
# 'GPENCIL' up to 4.2, 'GREASEPENCIL' from 4.2 on).
RENDERED_TYPES = {'MESH', 'CURVE', 'SURFACE', 'META', 'FONT', 'VOLUME', 'GPENCIL', 'GREASEPENCIL',
                  'CURVES', 'POINTCLOUD'}

# Eevee's engine identifier: 'BLENDER_EEVEE_NEXT' in 4.2 to 4.5.
EEVEE_ENGINES = {'BLENDER_EEVEE', 'BLENDER_EEVEE_NEXT'}

# Engines whose renders hold neither an Object Index nor a Cryptomatte pass.
ENGINES_WITHOUT_PASSES = {'BLENDER_WORKBENCH': 'Workbench'}

PASSES_FORMAT = 'OPEN_EXR_MULTILAYER'
# From 5.0 the output's media type chooses the formats offered: multilayer
# OpenEXR is one of 'MULTI_LAYER_IMAGE's.
PASSES_MEDIA_TYPE = 'MULTI_LAYER_IMAGE'

# The Object Index pass's name in multilayer EXR files.
INDEX_PASS = 'Object Index' if bpy.app.version >= (5, 0, 0) else 'IndexOB'

CAMERA_KINDS = {'ORTHO': 'orthographic', 'PANO': 'panoramic', 'CUSTOM': 'custom (a script)'}


def check_engine(scene):
    engine = ENGINES_WITHOUT_PASSES.get(scene.render.engine)
    if engine:
        raise SceneError(f"{engine} renders no Object Index or Cryptomatte pass: render with "
                         "Cycles or Eevee")


def rendered_objects(layer):
    return [obj for obj in layer.objects
            if obj.type in RENDERED_TYPES and not obj.hide_render]


def by_name(scene, layer):
    """Whether the objects to glow are told by name, through the Cryptomatte
    object pass: with Eevee, which writes no Object Index pass, and with
    Cycles when no rendered object has a pass index."""
    return (scene.render.engine in EEVEE_ENGINES or
            not any(obj.pass_index > 0 for obj in rendered_objects(layer)))


def needed_passes(scene, layer):
    """The passes the glow reads, as (name, view layer property)."""
    special = (('Cryptomatte Object', 'use_pass_cryptomatte_object') if by_name(scene, layer)
               else ('Object Index', 'use_pass_object_index'))
    return (special, ('Z', 'use_pass_z'))


def render_size(render):
    """The rendered image's size in pixels, as Blender rounds it."""
    return (render.resolution_x * render.resolution_percentage // 100,
            render.resolution_y * render.resolution_percentage // 100)


def camera_fov(scene, depsgraph):
    """The horizontal field of view of the scene's camera now, in radians."""
    camera = scene.camera
    if camera is None:
        raise SceneError(f"scene '{scene.name}' has no camera")
    data = camera.evaluated_get(depsgraph).data
    if data.type != 'PERSP':
        kind = CAMERA_KINDS.get(data.type, data.type.lower())
        raise SceneError(f"camera '{camera.name}' is {kind} at frame {scene.frame_current}; "
                         "orvit needs a perspective camera")
    width, height = render_size(scene.render)
    return scene_text.horizontal_fov(data.lens, data.sensor_width, data.sensor_height,
                                     data.sensor_fit, width, height,
                                     scene.render.pixel_aspect_x, scene.render.pixel_aspect_y)


def _animated(data):
    animation = data.animation_data if data else None
    return animation is not None and bool(animation.action or animation.drivers or
                                          animation.nla_tracks)


def camera_fovs(scene, depsgraph, rate):
    """[(time, radians)]: one entry when the field of view cannot change,
    else one at the start of every frame of the scene's range."""
    fov = camera_fov(scene, depsgraph)
    may_change = (_animated(scene.camera.data) or _animated(scene) or
                  any(marker.camera for marker in scene.timeline_markers))
    if not may_change:
        return [(scene.frame_start / rate, fov)]
    now, subframe = scene.frame_current, scene.frame_subframe
    keys = []
    try:
        for frame in range(scene.frame_start, scene.frame_end + 1):
            scene.frame_set(frame)
            keys.append((frame / rate, camera_fov(scene, depsgraph)))
    finally:
        scene.frame_set(now, subframe=subframe)
    if all(fov == keys[0][1] for _, fov in keys):
        return keys[:1]
    return keys


def whole_path(path):
    """A path as the user gave it in Blender ('//' for the .blend's folder,
    or relative to where Blender runs) made whole, as orvit is given paths."""
    return os.path.abspath(bpy.path.abspath(path))


def pass_file(scene):
    """The pattern of the files Blender renders the passes to."""
    settings = scene.render.image_settings
    if settings.file_format != PASSES_FORMAT:
        raise SceneError(f"the render output is {settings.file_format}, not multilayer "
                         "OpenEXR: press Set up passes")
    if scene.render.use_multiview:
        raise SceneError("the render has several views (stereoscopy); orvit takes one")
    return scene_text.frame_pattern(
        lambda frame: whole_path(scene.render.frame_path(frame=frame)))


def check_layer(scene, layer):
    if not layer.use:
        raise SceneError(f"view layer '{layer.name}' is not rendered (its Use for Rendering "
                         "is off)")
    missing = [name for name, attribute in needed_passes(scene, layer)
               if not getattr(layer, attribute)]
    if missing:
        raise SceneError(f"view layer '{layer.name}' has no {' or '.join(missing)} pass: "
                         "press Set up passes")


def named_surfaces(layer, path):
    """One surface for each rendered object of `layer`, by its name, each name
    keeping its value in the scene at `path` when there is one."""
    names = [obj.name for obj in rendered_objects(layer)]
    if not names:
        raise SceneError(f"view layer '{layer.name}' renders no object to glow")
    old = None
    if os.path.isfile(path):
        with open(path, encoding='utf-8') as f:
            old = f.read()
    return scene_text.named_surfaces(names, old)


def surfaces(layer):
    """One surface for each rendered object of `layer` with a pass index."""
    found = []
    for obj in rendered_objects(layer):
        if obj.pass_index == 0:
            continue
        if obj.pass_index > 255:
            raise SceneError(f"object '{obj.name}' has pass index {obj.pass_index}; orvit's "
                             "special values are 1 to 255")
        found.append(Surface(obj.name, obj.pass_index))
    if not found:
        raise SceneError("no rendered object has a pass index above 0: give the objects to "
                         "glow one (Object properties > Relations > Pass Index)")
    return sorted(found, key=lambda s: (s.special, s.name))


def ocio_config():
    """The OpenColorIO configuration Blender uses: $OCIO, else its own."""
    env = os.environ.get('OCIO')
    if env and os.path.isfile(env):
        return env
    for folder in (bpy.utils.user_resource('DATAFILES', path='colormanagement'),
                   bpy.utils.system_resource('DATAFILES', path='colormanagement')):
        if folder and os.path.isfile(os.path.join(folder, 'config.ocio')):
            return os.path.join(folder, 'config.ocio')
    raise SceneError("Blender's colour configuration (datafiles/colormanagement/config.ocio) "
                     "is not found")


def colour(scene):
    view = scene.view_settings
    return scene_text.colour_transform(scene.display_settings.display_device,
                                       view.view_transform, view.look, ocio_config())


def compositor_in_use(scene):
    """Whether Blender's 8-bit frames are the compositor's result rather than
    the Combined pass: its node tree is `scene.node_tree`, used when
    `scene.use_nodes`, before 5.0; `scene.compositing_node_group` from 5.0,
    used whenever it is set."""
    if not scene.render.use_compositing:
        return False
    if hasattr(scene, 'compositing_node_group'):
        return scene.compositing_node_group is not None
    return scene.use_nodes and scene.node_tree is not None


def colour_warnings(scene):
    """What keeps the unglowed pixels from being Blender's own 8-bit frames."""
    warnings = []
    view = scene.view_settings
    # White balance is a view setting in 4.5 (not in 4.2) and later.
    if (view.exposure != 0 or view.gamma != 1 or view.use_curve_mapping or
            getattr(view, 'use_white_balance', False)):
        warnings.append("the view's exposure, gamma, curves and white balance are not applied "
                        "to the glowed frames")
    if compositor_in_use(scene):
        warnings.append("the compositor makes Blender's own frames; the glowed frames are the "
                        "view layer's Combined pass")
    dither = scene.render.dither_intensity
    if dither != 0:
        warnings.append(f"Render > Post Processing > Dither is {dither:g}: Blender's 8-bit "
                        "frames get its noise and the glowed frames do not; set it to 0 for "
                        "the same pixels")
    return warnings


class Paths:
    """The files of one scene's glow, as the add-on's settings give them."""

    def __init__(self, scene):
        self.passes = pass_file(scene)
        settings = scene.orvit_glow
        self.scene = (whole_path(settings.scene_file)
                      if settings.scene_file else scene_text.default_scene_path(self.passes))
        self.output = (whole_path(settings.output)
                       if settings.output else scene_text.default_output(self.passes))


def describe(scene, layer, depsgraph, path):
    """The scene file for the frames Blender renders of `scene`, to be
    written at `path`."""
    check_engine(scene)
    paths = Paths(scene)
    check_layer(scene, layer)
    named = by_name(scene, layer)
    if scene.frame_start < 0:
        raise SceneError(f"the frame range starts at {scene.frame_start}; orvit's frames "
                         "start at 0")
    rate = scene.render.fps / scene.render.fps_base
    return SceneDescription(
        path=path, first=scene.frame_start, last=scene.frame_end, rate=rate,
        fovs=camera_fovs(scene, depsgraph, rate), pass_file=paths.passes, layer=layer.name,
        index_pass=INDEX_PASS,
        colour=colour(scene), output=paths.output,
        settings_file=scene_text.settings_path(path),
        surfaces=named_surfaces(layer, path) if named else surfaces(layer), by_name=named)
