"""Renders the glow after every animation render, for the scenes that ask
for it ("Glow after animation renders").

Blender calls render handlers from its render thread; the frames are noted
there and the glow starts from a timer on the main thread. In background
Blender (`blender -b FILE -a`) the render runs on the main thread and the
glow renders at once, before Blender quits. Either way a scene file that
is not there yet is written first, as Write scene would write it.

A glow that fails in background Blender is a line on standard error and
makes Blender's exit status 1, so that a batch script or a farm notices:
Blender ignores what handlers raise, and exits 0 after a render."""

import atexit
import os
import queue
import sys
import traceback

import bpy
from bpy.app.handlers import persistent

from . import operators
from .scene_text import SceneError

# The frames the render in progress wrote, by scene name.
written = {}
# (scene name, first frame, last frame) of finished animation renders.
finished = queue.SimpleQueue()


@persistent
def on_render_start_or_cancel(scene, *args):
    """A render that starts, or is cancelled, has written no frame to glow."""
    written.pop(scene.name, None)


@persistent
def on_render_write(scene, *args):
    written.setdefault(scene.name, []).append(scene.frame_current)


@persistent
def on_render_complete(scene, *args):
    frames = written.pop(scene.name, None)
    if not frames or not scene.orvit_glow.render_after_animation:
        return
    if bpy.app.background:
        glow_now(scene, min(frames), max(frames))
    else:
        finished.put((scene.name, min(frames), max(frames)))


def glow_now(scene, first, last):
    try:
        run = operators.start_glow(scene, bpy.context, first, last, write_missing=True).wait()
        level, message = operators.glow_outcome(run)
    except SceneError as e:
        level, message = 'ERROR', str(e)
    except Exception as e:  # a fault of the add-on's own: still no silent exit 0
        traceback.print_exc()
        level, message = 'ERROR', f'{type(e).__name__}: {e}'
    if level == 'INFO':
        print(f'Orvit glow: {message}')
        return
    print(f"Orvit glow: scene '{scene.name}', frames {first}-{last}: {message}", file=sys.stderr)
    fail_at_exit()


def exit_failed():
    # Runs as Blender's Python ends, after the rest of the command line.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(1)


def fail_at_exit():
    atexit.unregister(exit_failed)
    atexit.register(exit_failed)


def start_finished():
    """Starts the glow of each finished animation render in the window."""
    while not finished.empty():
        name, first, last = finished.get()
        scene = bpy.data.scenes.get(name)
        windows = bpy.context.window_manager.windows
        if scene is None or not windows:
            continue
        with bpy.context.temp_override(window=windows[0], scene=scene):
            bpy.ops.orvit.render_glow('INVOKE_DEFAULT', first=first, last=last,
                                      write_missing=True)
    return 0.5


HANDLERS = (('render_init', on_render_start_or_cancel), ('render_write', on_render_write),
            ('render_cancel', on_render_start_or_cancel),
            ('render_complete', on_render_complete))


def register():
    for name, function in HANDLERS:
        getattr(bpy.app.handlers, name).append(function)
    bpy.app.timers.register(start_finished, first_interval=0.5, persistent=True)


def unregister():
    if bpy.app.timers.is_registered(start_finished):
        bpy.app.timers.unregister(start_finished)
    for name, function in HANDLERS:
        handlers = getattr(bpy.app.handlers, name)
        if function in handlers:
            handlers.remove(function)
