"""The buttons of the "Orvit glow" panel."""

import os

import bpy

from . import blender_scene, orvit_process, scene_text
from .scene_text import SceneError


def program(context):
    # Enabled for one run only (`blender --addons`), the add-on has no
    # preferences, and orvit is looked up on PATH.
    addon = context.preferences.addons.get(__package__)
    path = addon.preferences.orvit_path if addon else ''
    return orvit_process.find_program(bpy.path.abspath(path))


def existing_scene(scene):
    paths = blender_scene.Paths(scene)
    if not os.path.isfile(paths.scene):
        raise SceneError(f"no scene file '{paths.scene}': press Write scene")
    return paths


def rendered_frames(scene, paths, first=None, last=None):
    """The frames of Blender's range whose passes are there."""
    frames = range(scene.frame_start if first is None else first,
                   (scene.frame_end if last is None else last) + 1, scene.frame_step)
    return [f for f in frames if os.path.isfile(scene_text.frame_path(paths.passes, f))]


class ORVIT_OT_setup_passes(bpy.types.Operator):
    """Turn on the Z pass of the active view layer and its Object Index pass,
    or its Cryptomatte Object pass with Eevee or where no object has a pass
    index, and render to multilayer OpenEXR (32-bit float), keeping the
    output path"""
    bl_idname = 'orvit.setup_passes'
    bl_label = 'Set up passes'
    bl_options = {'REGISTER', 'UNDO'}

    def execute(self, context):
        scene, layer = context.scene, context.view_layer
        try:
            blender_scene.check_engine(scene)
        except SceneError as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        changed = []
        for name, attribute in blender_scene.needed_passes(scene, layer):
            if not getattr(layer, attribute):
                setattr(layer, attribute, True)
                changed.append(f"the {name} pass of '{layer.name}'")
        image = scene.render.image_settings
        if image.file_format != blender_scene.PASSES_FORMAT:
            changed.append(f'multilayer OpenEXR output (was {image.file_format})')
            # The media type offers the format (5.0 on); it must come first.
            if hasattr(image, 'media_type'):
                image.media_type = blender_scene.PASSES_MEDIA_TYPE
            image.file_format = blender_scene.PASSES_FORMAT
        if image.color_depth != '32':
            changed.append(f'32-bit float depth (was {image.color_depth}-bit)')
            image.color_depth = '32'
        if changed:
            self.report({'INFO'}, 'Turned on ' + ', '.join(changed))
        else:
            self.report({'INFO'}, 'The passes were already set up')
        return {'FINISHED'}


class ORVIT_OT_write_scene(bpy.types.Operator):
    """Write the scene file for the frames Blender renders (camera, frames,
    passes, surfaces, colour) and its glow settings file beside it"""
    bl_idname = 'orvit.write_scene'
    bl_label = 'Write scene'

    filepath: bpy.props.StringProperty(
        name='Scene file', subtype='FILE_PATH', options={'SKIP_SAVE'},
        description='Where to write it (default: the scene file of the panel)')

    def execute(self, context):
        scene = context.scene
        try:
            orvit = program(context)
            path = (blender_scene.whole_path(self.filepath) if self.filepath
                    else blender_scene.Paths(scene).scene)
            d = blender_scene.describe(scene, context.view_layer,
                                       context.evaluated_depsgraph_get(), path)
            new_values = write_scene(orvit, d)
        except SceneError as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        except OSError as e:
            self.report({'ERROR'}, f"cannot write '{e.filename}': {e.strerror}")
            return {'CANCELLED'}
        if self.filepath and path != blender_scene.Paths(scene).scene:
            scene.orvit_glow.scene_file = path
        camera = 'field of view keyed at every frame' if len(d.fovs) > 1 else 'one field of view'
        message = (f"Wrote '{path}': frames {d.first}-{d.last} at {d.rate:g} fps, {camera}, "
                   f"{len(d.surfaces)} surface{'s' if len(d.surfaces) != 1 else ''}")
        if new_values:
            message += '; default glow for ' + ', '.join(map(str, new_values))
        self.report({'INFO'}, message)
        for warning in blender_scene.colour_warnings(scene):
            self.report({'WARNING'}, warning)
        return {'FINISHED'}


def write_scene(orvit, d):
    """Writes the scene `d` and gives the special values new to it their
    default glow; returns those values. The scene goes to a temporary file
    beside it first and is renamed when the settings are done, so a failure
    leaves the scene and its settings as they were."""
    text = scene_text.scene_text(d)
    old = None
    if os.path.isfile(d.path):
        with open(d.path, encoding='utf-8') as f:
            old = f.read()
    # Without the scene the settings were made for, the values they hold are
    # unknown; they are left as they are.
    keep = os.path.isfile(d.settings_file)
    new_values = ([] if keep and old is None else
                  scene_text.new_special_values(d.surfaces, old if keep else None))
    os.makedirs(os.path.dirname(d.path), exist_ok=True)
    temporary = d.path + f'.{os.getpid()}.tmp'
    try:
        with open(temporary, 'w', encoding='utf-8') as f:
            f.write(text)
            # On disk before the rename, so that a crash leaves the old scene or the new.
            f.flush()
            os.fsync(f.fileno())
        if new_values:
            arguments = ['settings', temporary]
            for value in new_values:
                arguments += ['--default-glow', str(value)]
            orvit_process.run(orvit, arguments)
        os.replace(temporary, d.path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
    return new_values


class OrvitModal:
    """An operator that runs `orvit` without blocking Blender: `invoke`
    starts the run and a timer polls it; `execute` (scripts, background
    Blender) waits for it."""

    run = None
    timer = None

    def start(self, context):
        """Returns the OrvitRun to follow, or raises SceneError."""
        raise NotImplementedError

    def finish(self, context, run):
        raise NotImplementedError

    def progress(self, context, run):
        pass

    def execute(self, context):
        try:
            run = self.start(context)
        except SceneError as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        return self.finish(context, run.wait())

    def invoke(self, context, event):
        try:
            self.run = self.start(context)
        except SceneError as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        wm = context.window_manager
        self.timer = wm.event_timer_add(0.1, window=context.window)
        wm.modal_handler_add(self)
        self.progress(context, self.run)
        return {'RUNNING_MODAL'}

    def modal(self, context, event):
        # Every event passes on, timers too (one may be another operator's),
        # so that Blender stays usable while orvit runs.
        if event.type == 'TIMER':
            if self.run.poll():
                self.progress(context, self.run)
                return {'PASS_THROUGH'}
        elif self.cancellable(event):
            self.run.cancel()
        else:
            return {'PASS_THROUGH'}
        context.window_manager.event_timer_remove(self.timer)
        return self.finish(context, self.run)

    def cancellable(self, event):
        return False


class ORVIT_OT_edit_glow(OrvitModal, bpy.types.Operator):
    """Open the glow settings of the written scene in orvit's panel window
    at the current frame; the settings saved there are what the next glow
    render uses"""
    bl_idname = 'orvit.edit_glow'
    bl_label = 'Edit glow'

    def start(self, context):
        scene = context.scene
        paths = existing_scene(scene)
        arguments = ['edit', paths.scene]
        frame = scene.frame_current
        # The panel's preview needs the frame rendered through the filter.
        if os.path.isfile(scene_text.frame_path(paths.passes, frame)):
            arguments += ['--frame', str(frame)]
        return orvit_process.OrvitRun(program(context), [arguments])

    def finish(self, context, run):
        if run.error:
            self.report({'ERROR'}, run.error)
            return {'CANCELLED'}
        self.report({'INFO'}, run.last_output or 'orvit edit closed')
        return {'FINISHED'}


# The scenes whose glow renders now: one run at a time per scene.
running = set()


def written_scene(scene, context):
    """The scene's paths, its scene file written first, as Write scene
    writes it (keeping the settings), when there is none."""
    paths = blender_scene.Paths(scene)
    if os.path.isfile(paths.scene):
        return paths
    ours = context.scene == scene
    layer = context.view_layer if ours else scene.view_layers[0]
    depsgraph = context.evaluated_depsgraph_get() if ours else layer.depsgraph
    try:
        write_scene(program(context), blender_scene.describe(scene, layer, depsgraph,
                                                             paths.scene))
    except OSError as e:
        raise SceneError(f"cannot write '{e.filename}': {e.strerror}") from e
    print(f"Orvit glow: wrote '{paths.scene}'")
    return paths


def start_glow(scene, context, first=None, last=None, write_missing=False):
    """Starts `orvit render` over the frames of the scene's range (or of
    first to last) whose passes Blender has rendered; with `write_missing`,
    the scene file is written first when there is none."""
    if scene.name in running:
        raise SceneError(f"the glow of scene '{scene.name}' is already rendering")
    paths = written_scene(scene, context) if write_missing else existing_scene(scene)
    frames = rendered_frames(scene, paths, first, last)
    if not frames:
        raise SceneError(f"no rendered frames ('{paths.passes}'): render the animation first")
    commands = [['render', paths.scene, '--frames', f'{a}-{b}', '--output', paths.output]
                for a, b in scene_text.frame_runs(frames)]
    run = orvit_process.OrvitRun(program(context), commands)
    run.total, run.output, run.scene_name = len(frames), paths.output, scene.name
    running.add(scene.name)
    return run


def glow_outcome(run):
    """The report level and line of a finished glow run."""
    running.discard(run.scene_name)
    if run.error:
        return 'ERROR', run.error
    if run.cancelled:
        return 'WARNING', f'Cancelled: {run.done} of {run.total} frames glowed'
    frames = 'frame' if run.done == 1 else 'frames'
    return 'INFO', f"Glowed {run.done} {frames} to '{run.output}'"


class ORVIT_OT_render_glow(OrvitModal, bpy.types.Operator):
    """Render the glow over the frames Blender has rendered, with orvit
    render (Esc cancels)"""
    bl_idname = 'orvit.render_glow'
    bl_label = 'Render glow'

    first: bpy.props.IntProperty(default=-1, options={'SKIP_SAVE', 'HIDDEN'})
    last: bpy.props.IntProperty(default=-1, options={'SKIP_SAVE', 'HIDDEN'})
    write_missing: bpy.props.BoolProperty(default=False, options={'SKIP_SAVE', 'HIDDEN'})

    def start(self, context):
        return start_glow(context.scene, context, self.first if self.first >= 0 else None,
                          self.last if self.last >= 0 else None, self.write_missing)

    def progress(self, context, run):
        context.workspace.status_text_set(
            f'Orvit glow: {run.done} of {run.total} frames (Esc to cancel)')

    def cancellable(self, event):
        return event.type == 'ESC' and event.value == 'PRESS'

    def finish(self, context, run):
        if self.run is not None:
            context.workspace.status_text_set(None)
        level, message = glow_outcome(run)
        self.report({level}, message)
        return {'CANCELLED'} if level != 'INFO' else {'FINISHED'}


CLASSES = (ORVIT_OT_setup_passes, ORVIT_OT_write_scene, ORVIT_OT_edit_glow,
           ORVIT_OT_render_glow)
