"""Scene set-up in headless Blender shared by the add-on's tests and
tools/blender_pictures.py."""

import math

import bpy


def empty_cycles_scene(size, samples):
    """The current scene emptied of objects, rendering `size` pixels with
    Cycles on the CPU without denoising, so that renders repeat exactly."""
    scene = bpy.context.scene
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    scene.render.engine = 'CYCLES'
    scene.cycles.device = 'CPU'
    scene.cycles.samples = samples
    scene.cycles.use_denoising = False
    scene.render.resolution_x, scene.render.resolution_y = size
    return scene


def add_camera(scene, location, tilt_degrees):
    """The scene's camera at `location`, looking along +y tilted up from
    straight down by `tilt_degrees`."""
    camera = bpy.data.objects.new('Camera', bpy.data.cameras.new('Camera'))
    camera.location = location
    camera.rotation_euler = (math.radians(tilt_degrees), 0, 0)
    scene.collection.objects.link(camera)
    scene.camera = camera
    return camera
