"""Orvit glow for Blender: sets up the passes, writes the scene file for
the frames Blender renders and runs the `orvit` program on it."""

import bpy

from . import handlers, operators

bl_info = {
    'name': 'Orvit glow',
    'author': 'Orvit',
    'version': (1, 0, 0),
    'blender': (3, 4, 0),
    'location': 'Properties > Output > Orvit glow',
    'description': 'Glow around chosen objects of rendered frames, by the orvit program',
    'category': 'Render',
}


class OrvitGlowPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    orvit_path: bpy.props.StringProperty(
        name='orvit program', subtype='FILE_PATH',
        description='The orvit program (empty: found on PATH)')

    def draw(self, context):
        self.layout.prop(self, 'orvit_path')


class OrvitGlowSettings(bpy.types.PropertyGroup):
    scene_file: bpy.props.StringProperty(
        name='Scene file', subtype='FILE_PATH',
        description='The scene file orvit reads (empty: beside the render output, named '
                    'after it)')
    output: bpy.props.StringProperty(
        name='Glow output', subtype='FILE_PATH',
        description='The glowed frames, #### for the frame number; .png, .tif or .exr '
                    '(empty: glow/ beside the render output, as PNG)')
    render_after_animation: bpy.props.BoolProperty(
        name='Glow after animation renders',
        description='Render the glow over the frames of every animation render when it '
                    'ends')


class ORVIT_PT_glow(bpy.types.Panel):
    bl_label = 'Orvit glow'
    bl_space_type = 'PROPERTIES'
    bl_region_type = 'WINDOW'
    bl_context = 'output'

    def draw(self, context):
        layout = self.layout
        layout.use_property_split = True
        layout.use_property_decorate = False
        settings = context.scene.orvit_glow
        layout.operator('orvit.setup_passes', icon='RENDERLAYERS')
        layout.prop(settings, 'scene_file')
        layout.prop(settings, 'output')
        row = layout.row(align=True)
        row.operator('orvit.write_scene', icon='FILE_TICK')
        row.operator('orvit.edit_glow', icon='PREFERENCES')
        layout.operator('orvit.render_glow', icon='RENDER_ANIMATION')
        layout.prop(settings, 'render_after_animation')
        if context.scene.name in operators.running:
            layout.label(text='Rendering the glow: Esc cancels', icon='INFO')


CLASSES = (OrvitGlowPreferences, OrvitGlowSettings, ORVIT_PT_glow) + operators.CLASSES


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.Scene.orvit_glow = bpy.props.PointerProperty(type=OrvitGlowSettings)
    handlers.register()


def unregister():
    handlers.unregister()
    del bpy.types.Scene.orvit_glow
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
